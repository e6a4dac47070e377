#include "platform/linux/qt/ScreenImage.h"

#include "platform/linux/Xcb.h"

#include <QImage>
#include <cstdio>
#include <unistd.h>

namespace platform {

bool saveScreenImage(const Rect& area, const std::string& path, std::string& why) {
    if (area.width() <= 0 || area.height() <= 0 || area.width() > 32767 || area.height() > 32767) {
        why = "the monitor has no size";
        return false;
    }
    x11::Connection x;
    if (!x.open(why))
        return false;
    xcb_connection_t* c = x.get();
    auto image = x11::reply(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, x.root(), static_cast<int16_t>(area.left),
                      static_cast<int16_t>(area.top), static_cast<uint16_t>(area.width()),
                      static_cast<uint16_t>(area.height()), ~0u),
        nullptr));
    const size_t bytes = size_t(area.width()) * size_t(area.height()) * 4;
    // The wall's servers keep 24-bit colour in 32-bit pixels (blue, green,
    // red, unused), which is Qt's RGB32 on a little-endian machine.
    if (!image || image->depth < 24 || size_t(xcb_get_image_data_length(image.get())) < bytes) {
        why = "the X server gave no image of the rectangle";
        return false;
    }
    const QImage picture = QImage(xcb_get_image_data(image.get()), area.width(), area.height(),
                                  area.width() * 4, QImage::Format_RGB32)
                               .copy();
    const std::string temporary = path + ".part-" + std::to_string(::getpid());
    if (!picture.save(QString::fromStdString(temporary), "PNG")) {
        std::remove(temporary.c_str());
        why = "cannot write " + temporary;
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        why = "cannot name " + path;
        return false;
    }
    return true;
}

} // namespace platform
