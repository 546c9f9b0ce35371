// The header of a device-independent bitmap (a BMP file without its 14-byte
// file header, as bitmap resources are stored): the 40-byte info header and
// where the pixel rows start after any colour masks and colour table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace bitmap {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitFields = 3;

struct DibHeader {
    uint32_t headerSize = 0;  // 40, or more for the later header versions
    int32_t width = 0;
    int32_t height = 0;       // negative: rows stored top-down
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;

    // Entries of the colour table: those the header says are used, else a
    // full palette for 8 bits or fewer, else none.
    uint64_t colorTableEntries() const;
    // Offset of the first pixel row from the start of the info header.
    uint64_t pixelOffset() const;
};

// Nothing when `size` cannot hold an info header or its size field is
// smaller than one.
std::optional<DibHeader> readDibHeader(const uint8_t* data, size_t size);

}  // namespace bitmap
