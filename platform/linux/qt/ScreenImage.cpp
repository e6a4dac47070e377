#include "platform/ScreenImage.h"

#include "platform/Files.h"
#include "platform/linux/Xcb.h"

#include <QBuffer>
#include <QImage>
#include <cstring>

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
    // Written whole under a name no one can guess and renamed into place: the
    // folder may be someone else's, and a link planted at the picture's name
    // is replaced, never written through.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG")) {
        why = "cannot make the picture of " + path;
        return false;
    }
    int error = 0;
    if (!replaceFile(path, std::string_view(png.constData(), static_cast<size_t>(png.size())),
                     error, LinkAtPath::Replace)) {
        why = "cannot write " + path + " (" + std::strerror(error) + ")";
        return false;
    }
    return true;
}

} // namespace platform
