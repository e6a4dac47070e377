#include "common/PngImage.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

uint32_t bigEndianAt(const std::string& s, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<uint8_t>(s[at + i]);
    return value;
}

struct Chunk {
    std::string type, data;
    bool crcHolds = false;
};

// The chunks after the signature, each with whether its CRC is right.
std::vector<Chunk> chunksOf(const std::string& png) {
    std::vector<Chunk> chunks;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = bigEndianAt(png, at);
        if (at + 12 + length > png.size())
            break;
        Chunk chunk{png.substr(at + 4, 4), png.substr(at + 8, length)};
        const auto* typeAndData = reinterpret_cast<const Bytef*>(png.data() + at + 4);
        chunk.crcHolds = crc32(0, typeAndData, 4 + length) == bigEndianAt(png, at + 8 + length);
        chunks.push_back(chunk);
        at += 12 + length;
    }
    return chunks;
}

TEST(PngImage, RowsFromTheTopComeOutAsRgbWithTheirFilterByteAndEveryChunkChecks) {
    // 3 x 2 pixels in blue, green, red, unused order, rows 16 bytes apart
    // (4 bytes of padding each), as a bitmap with a wider stride gives them.
    const int width = 3, height = 2, stride = 16;
    std::vector<uint8_t> pixels(size_t(stride) * height, 0xEE);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &pixels[size_t(y) * stride + size_t(x) * 4];
            p[0] = uint8_t(10 * x + y); // blue
            p[1] = uint8_t(100 + x);    // green
            p[2] = uint8_t(200 + y);    // red
        }
    const std::string png = encodePng(pixels.data(), width, height, stride);
    ASSERT_GE(png.size(), 8u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

    const std::vector<Chunk> chunks = chunksOf(png);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].type, "IHDR");
    EXPECT_EQ(chunks[1].type, "IDAT");
    EXPECT_EQ(chunks[2].type, "IEND");
    for (const Chunk& chunk : chunks)
        EXPECT_TRUE(chunk.crcHolds) << chunk.type;
    ASSERT_EQ(chunks[0].data.size(), 13u);
    EXPECT_EQ(bigEndianAt(chunks[0].data, 0), 3u);
    EXPECT_EQ(bigEndianAt(chunks[0].data, 4), 2u);
    EXPECT_EQ(chunks[0].data.substr(8), std::string("\x08\x02\0\0\0", 5));

    std::vector<uint8_t> rows(2 * (1 + 3 * 3));
    uLongf size = rows.size();
    ASSERT_EQ(uncompress(rows.data(), &size, reinterpret_cast<const Bytef*>(chunks[1].data.data()),
                         chunks[1].data.size()),
              Z_OK);
    ASSERT_EQ(size, rows.size());
    const std::vector<uint8_t> expected = {0, 200, 100, 0, 200, 101, 10, 200, 102, 20,
                                           0, 201, 100, 1, 201, 101, 11, 201, 102, 21};
    EXPECT_EQ(rows, expected);
}

TEST(PngImage, NoPictureOfNothingOrOfRowsShorterThanTheWidth) {
    std::vector<uint8_t> pixels(64, 0);
    EXPECT_TRUE(encodePng(nullptr, 2, 2, 8).empty());
    EXPECT_TRUE(encodePng(pixels.data(), 0, 2, 8).empty());
    EXPECT_TRUE(encodePng(pixels.data(), 2, -1, 8).empty());
    EXPECT_TRUE(encodePng(pixels.data(), 2, 2, 7).empty());
    EXPECT_TRUE(encodePng(pixels.data(), 40000, 1, 160000).empty());
    EXPECT_FALSE(encodePng(pixels.data(), 2, 2, 8).empty());
}

} // namespace
