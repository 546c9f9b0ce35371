// Bitmap files built in memory, for the banner tests and the benchmark.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

struct BitmapFileShape {
    int32_t width = 4;
    int32_t height = 2;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t infoSize = 40;
    uint32_t colorsUsed = 0;
    int64_t pixelOffset = -1;  // -1: right after the headers
    int64_t pixelBytes = -1;   // -1: exactly the rows
};

inline void putLe(std::vector<uint8_t>& b, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

inline uint32_t bitmapStride(int32_t width, uint16_t bitCount) {
    return (uint32_t(width) * bitCount + 31) / 32 * 4;
}

// A BMP file; pixel byte i holds (i * 7 + 3) & 0xFF.
inline std::vector<uint8_t> makeBitmapFile(const BitmapFileShape& s) {
    uint32_t offset = s.pixelOffset >= 0 ? uint32_t(s.pixelOffset) : 54;
    uint32_t rows = uint32_t(s.height < 0 ? -int64_t(s.height) : s.height);
    size_t pixels = s.pixelBytes >= 0 ? size_t(s.pixelBytes) : size_t(bitmapStride(s.width, s.bitCount)) * rows;
    std::vector<uint8_t> b(std::max<size_t>(offset, 54) + pixels, 0);
    b[0] = 'B';
    b[1] = 'M';
    putLe(b, 2, uint32_t(b.size()), 4);
    putLe(b, 10, offset, 4);
    putLe(b, 14, s.infoSize, 4);
    putLe(b, 18, uint32_t(s.width), 4);
    putLe(b, 22, uint32_t(s.height), 4);
    putLe(b, 26, 1, 2);
    putLe(b, 28, s.bitCount, 2);
    putLe(b, 30, s.compression, 4);
    putLe(b, 46, s.colorsUsed, 4);
    for (size_t i = 0; i < pixels; ++i) b[offset + i] = uint8_t(i * 7 + 3);
    b.resize(offset + pixels);
    if (b.size() < 54) b.resize(54);
    return b;
}
