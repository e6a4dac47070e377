// A picture of what a rectangle of the desktop shows now, written as a PNG:
// the X server's image of the root window over it (Linux), the screen's
// bitmap over it (Windows).
#pragma once

#include "common/Geometry.h"

#include <string>

namespace platform {

// Writes the image of the rectangle (desktop coordinates) to `path` as a PNG,
// through a temporary file beside it, so that the file appears whole. False,
// with the reason, when the window system gives no image or the file cannot
// be written.
bool saveScreenImage(const Rect& area, const std::string& path, std::string& why);

} // namespace platform
