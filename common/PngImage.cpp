#include "common/PngImage.h"

#include <zlib.h>

#include <vector>

namespace {

void putBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xff);
}

// One chunk: its length, its type and data, and the CRC of type and data.
void putChunk(std::string& out, const char type[4], const std::string& data) {
    putBigEndian(out, static_cast<uint32_t>(data.size()));
    const size_t typeAt = out.size();
    out.append(type, 4);
    out += data;
    const auto* crcFrom = reinterpret_cast<const Bytef*>(out.data() + typeAt);
    putBigEndian(out, static_cast<uint32_t>(crc32(0, crcFrom, static_cast<uInt>(4 + data.size()))));
}

} // namespace

std::string encodePng(const uint8_t* pixels, int width, int height, int stride) {
    // PNG allows 2^31 - 1; a monitor never comes near, and the raw rows must
    // fit in what zlib is handed in one call.
    if (!pixels || width <= 0 || height <= 0 || width > 32767 || height > 32767 ||
        stride < width * 4)
        return {};
    const size_t rowBytes = 1 + size_t(width) * 3;
    std::vector<uint8_t> raw(rowBytes * size_t(height));
    for (int y = 0; y < height; ++y) {
        const uint8_t* from = pixels + size_t(y) * size_t(stride);
        uint8_t* to = raw.data() + size_t(y) * rowBytes;
        *to++ = 0; // filter: none
        for (int x = 0; x < width; ++x, from += 4) {
            *to++ = from[2];
            *to++ = from[1];
            *to++ = from[0];
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, raw.data(),
                  static_cast<uLong>(raw.size()), Z_BEST_SPEED) != Z_OK)
        return {};
    packed.resize(packedSize);

    std::string header;
    putBigEndian(header, static_cast<uint32_t>(width));
    putBigEndian(header, static_cast<uint32_t>(height));
    header += '\x08';       // 8 bits a sample
    header += '\x02';       // RGB
    header.append(3, '\0'); // deflate, adaptive filtering, no interlace

    std::string png("\x89PNG\r\n\x1a\n", 8);
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", packed);
    putChunk(png, "IEND", {});
    return png;
}
