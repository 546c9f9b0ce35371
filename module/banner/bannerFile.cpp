#include "module/banner/bannerFile.h"

#include "module/frame/littleEndian.h"

namespace {

constexpr uint32_t kPixelOffsetField = 10;  // bfOffBits in the file header
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t BI_RGB = 0;
// Far beyond any screen; keeps every size computation below inside 32 bits.
constexpr int32_t kLargestSide = 0x10000;

uint16_t readLe16(const uint8_t* at) { return uint16_t(at[0] | at[1] << 8); }

BannerFileProblem formatProblem(const uint8_t* info) {
    uint16_t bitCount = readLe16(info + 14);
    if (readLe32(info + 0) != kInfoHeaderSize) return BannerFileProblem::InfoHeaderSize;
    if (readLe32(info + 16) != BI_RGB) return BannerFileProblem::Compressed;
    if (readLe32(info + 32) != 0) return BannerFileProblem::ColourTable;
    if (bitCount != 16 && bitCount != 24 && bitCount != 32) return BannerFileProblem::BitCount;
    return BannerFileProblem::None;
}

BannerFileProblem layoutProblem(const BannerFile& file, uint32_t size) {
    if (file.width <= 0 || file.width > kLargestSide) return BannerFileProblem::Width;
    if (file.height == 0 || file.height > kLargestSide || file.height < -kLargestSide)
        return BannerFileProblem::Height;
    uint32_t rows = uint32_t(file.height < 0 ? -file.height : file.height);
    uint32_t bitCount = readLe16(file.bitmapInfo + 14);
    uint32_t stride = (uint32_t(file.width) * bitCount + 31) / 32 * 4;
    if (file.pixelOffset > size || stride > (size - file.pixelOffset) / rows) return BannerFileProblem::PixelsOutside;
    return BannerFileProblem::None;
}

}  // namespace

BannerFileProblem checkBannerFile(const uint8_t* view, uint32_t size, BannerFile& file) {
    // GetFileSize's failure value is no size at all.
    if (size == 0xFFFFFFFF || size < kFileHeaderBytes + kBitmapInfoBytes) return BannerFileProblem::TooShort;
    for (uint32_t i = 0; i < kBitmapInfoBytes; ++i) file.bitmapInfo[i] = view[kFileHeaderBytes + i];
    file.pixelOffset = readLe32(view + kPixelOffsetField);
    file.width = int32_t(readLe32(file.bitmapInfo + 4));
    file.height = int32_t(readLe32(file.bitmapInfo + 8));
    BannerFileProblem problem = formatProblem(file.bitmapInfo);
    return problem != BannerFileProblem::None ? problem : layoutProblem(file, size);
}

bool readBannerFile(const uint8_t* view, uint32_t size, BannerFile& file) {
    return checkBannerFile(view, size, file) == BannerFileProblem::None;
}
