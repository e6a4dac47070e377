// A monitor's picture on Windows: the screen's bitmap over the rectangle,
// copied by BitBlt (with the layered windows, CAPTUREBLT) into a 32-bit
// top-down DIB section, packed as a PNG and written through the durable
// replacement, so that the picture appears whole.
#include "platform/ScreenImage.h"

#include "common/PngImage.h"
#include "platform/Files.h"

#include <windows.h>

namespace platform {
namespace {

// The screen's device context and a memory one with the DIB selected,
// released in reverse order whatever way the capture ends.
class ScreenCopy {
public:
    ScreenCopy(int width, int height) {
        screen_ = GetDC(nullptr);
        memory_ = screen_ ? CreateCompatibleDC(screen_) : nullptr;
        if (!memory_)
            return;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // rows from the top
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap_ = CreateDIBSection(memory_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        if (bitmap_)
            previous_ = SelectObject(memory_, bitmap_);
    }
    ~ScreenCopy() {
        if (previous_)
            SelectObject(memory_, previous_);
        if (bitmap_)
            DeleteObject(bitmap_);
        if (memory_)
            DeleteDC(memory_);
        if (screen_)
            ReleaseDC(nullptr, screen_);
    }
    ScreenCopy(const ScreenCopy&) = delete;
    ScreenCopy& operator=(const ScreenCopy&) = delete;

    // The pixels (blue, green, red, unused) once copy() has succeeded.
    bool copy(const Rect& area) {
        if (!bits_ || !previous_)
            return false;
        if (!BitBlt(memory_, 0, 0, area.width(), area.height(), screen_, area.left, area.top,
                    SRCCOPY | CAPTUREBLT))
            return false;
        GdiFlush();
        return true;
    }
    const uint8_t* pixels() const { return static_cast<const uint8_t*>(bits_); }

private:
    HDC screen_ = nullptr;
    HDC memory_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    void* bits_ = nullptr;
};

} // namespace

bool saveScreenImage(const Rect& area, const std::string& path, std::string& why) {
    if (area.width() <= 0 || area.height() <= 0 || area.width() > 32767 || area.height() > 32767) {
        why = "the monitor has no size";
        return false;
    }
    ScreenCopy screen(area.width(), area.height());
    if (!screen.copy(area)) {
        why = "the screen gave no image of the rectangle (error " + std::to_string(GetLastError()) +
              ")";
        return false;
    }
    const std::string png =
        encodePng(screen.pixels(), area.width(), area.height(), area.width() * 4);
    if (png.empty()) {
        why = "cannot make the picture of " + path;
        return false;
    }
    int error = 0;
    if (!replaceFile(path, png, error, LinkAtPath::Replace)) {
        why = "cannot write " + path + " (error " + std::to_string(error) + ")";
        return false;
    }
    return true;
}

} // namespace platform
