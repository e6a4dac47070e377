// A picture as a PNG file's bytes: 8-bit RGB, no interlace, each row with
// the filter "none", deflated by zlib. What --screenshot writes where the
// window system gives raw pixels (Windows' screen bitmap).
#pragma once

#include <cstdint>
#include <string>

// The pixels are rows from the top, `stride` bytes apart, each pixel 4 bytes
// in the order blue, green, red, unused (the 32-bit bitmaps of Windows and
// of X servers at depth 24). Empty when the size is 0 or past PNG's limits,
// or when zlib fails.
std::string encodePng(const uint8_t* pixels, int width, int height, int stride);
