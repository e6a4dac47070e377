// A picture of what a rectangle of the desktop shows now: the X server's
// image of the root window over it, written as a PNG.
#pragma once

#include "common/Geometry.h"

#include <string>

namespace platform {

// Writes the image of the rectangle (desktop coordinates) to `path` as a PNG,
// through a temporary file beside it, so that the file appears whole. False,
// with the reason, when the server gives no image or the file cannot be
// written.
bool saveScreenImage(const Rect& area, const std::string& path, std::string& why);

} // namespace platform
