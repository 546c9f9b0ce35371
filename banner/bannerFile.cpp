#include "banner/bannerFile.h"

#include "frame/littleEndian.h"

namespace {

constexpr uint32_t kPixelOffsetField = 10;  // bfOffBits in the file header
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t BI_RGB = 0;
// Far beyond any screen; keeps every size computation below inside 32 bits.
constexpr int32_t kLargestSide = 0x10000;

uint16_t readLe16(const uint8_t* at) { return uint16_t(at[0] | at[1] << 8); }

bool drawableFormat(const uint8_t* info) {
    uint16_t bitCount = readLe16(info + 14);
    return readLe32(info + 0) == kInfoHeaderSize && readLe32(info + 16) == BI_RGB &&
           readLe32(info + 32) == 0 && (bitCount == 16 || bitCount == 24 || bitCount == 32);
}

bool pixelRowsInside(const BannerFile& file, uint32_t size) {
    if (file.width <= 0 || file.width > kLargestSide) return false;
    if (file.height == 0 || file.height > kLargestSide || file.height < -kLargestSide) return false;
    uint32_t rows = uint32_t(file.height < 0 ? -file.height : file.height);
    uint32_t bitCount = readLe16(file.bitmapInfo + 14);
    uint32_t stride = (uint32_t(file.width) * bitCount + 31) / 32 * 4;
    if (file.pixelOffset > size) return false;
    return stride <= (size - file.pixelOffset) / rows;
}

}  // namespace

bool readBannerFile(const uint8_t* view, uint32_t size, BannerFile& file) {
    // GetFileSize's failure value is no size at all.
    if (size == 0xFFFFFFFF || size < kFileHeaderBytes + kBitmapInfoBytes) return false;
    for (uint32_t i = 0; i < kBitmapInfoBytes; ++i) file.bitmapInfo[i] = view[kFileHeaderBytes + i];
    file.pixelOffset = readLe32(view + kPixelOffsetField);
    file.width = int32_t(readLe32(file.bitmapInfo + 4));
    file.height = int32_t(readLe32(file.bitmapInfo + 8));
    return drawableFormat(file.bitmapInfo) && pixelRowsInside(file, size);
}
