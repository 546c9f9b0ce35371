#include "module/banner/bannerFile.h"

#include "module/frame/littleEndian.h"

namespace {

constexpr uint32_t kPixelOffsetField = 10;  // bfOffBits in the file header
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t BI_RGB = 0;
// Far beyond any screen; keeps every size computation below inside 32 bits.
constexpr int32_t kLargestSide = 0x10000;

// The copy is word-aligned: its fields are read a word or a halfword at a time.
uint16_t bitCountOf(const uint8_t* info) { return *reinterpret_cast<const uint16_t*>(info + 14); }

// The view may start at any address: a halfword at a time where it is
// even (a mapped view starts a page, which leaves the info header two bytes
// past a word), a byte at a time where it is odd. Inline, as is
// layoutProblem: a function of its own would keep a frame of its own, with
// an exception-table entry and a relocation for it.
__attribute__((always_inline)) inline void copyHeaders(const uint8_t* view, BannerFile& file) {
    if (reinterpret_cast<uintptr_t>(view) % 2 != 0) {
        for (uint32_t i = 0; i < kBitmapInfoBytes; ++i) file.bitmapInfo[i] = view[kFileHeaderBytes + i];
        file.pixelOffset = readLe32(view + kPixelOffsetField);
        return;
    }
    const uint16_t* from = reinterpret_cast<const uint16_t*>(view + kFileHeaderBytes);
    uint16_t* to = reinterpret_cast<uint16_t*>(file.bitmapInfo);
    for (uint32_t i = 0; i < kBitmapInfoBytes / 2; i += 2) {
        to[i] = from[i];
        to[i + 1] = from[i + 1];
    }
    const uint16_t* pixelOffset = reinterpret_cast<const uint16_t*>(view + kPixelOffsetField);
    file.pixelOffset = pixelOffset[0] | uint32_t(pixelOffset[1]) << 16;
}

BannerFileProblem formatProblem(const uint8_t* info) {
    uint16_t bitCount = bitCountOf(info);
    if (readAlignedLe32(info + 0) != kInfoHeaderSize) return BannerFileProblem::InfoHeaderSize;
    if (readAlignedLe32(info + 16) != BI_RGB) return BannerFileProblem::Compressed;
    if (readAlignedLe32(info + 32) != 0) return BannerFileProblem::ColourTable;
    if (bitCount != 16 && bitCount != 24 && bitCount != 32) return BannerFileProblem::BitCount;
    return BannerFileProblem::None;
}

__attribute__((always_inline)) inline BannerFileProblem layoutProblem(const BannerFile& file, uint32_t size) {
    if (file.width <= 0 || file.width > kLargestSide) return BannerFileProblem::Width;
    if (file.height == 0 || file.height > kLargestSide || file.height < -kLargestSide)
        return BannerFileProblem::Height;
    uint32_t rows = uint32_t(file.height < 0 ? -file.height : file.height);
    uint32_t stride = (uint32_t(file.width) * bitCountOf(file.bitmapInfo) + 31) / 32 * 4;
    if (file.pixelOffset > size || uint64_t(stride) * rows > size - file.pixelOffset)
        return BannerFileProblem::PixelsOutside;
    return BannerFileProblem::None;
}

}  // namespace

BannerFileProblem checkBannerFile(const uint8_t* view, uint32_t size, BannerFile& file) {
    // GetFileSize's failure value is no size at all.
    if (size == 0xFFFFFFFF || size < kFileHeaderBytes + kBitmapInfoBytes) return BannerFileProblem::TooShort;
    copyHeaders(view, file);
    file.width = int32_t(readAlignedLe32(file.bitmapInfo + 4));
    file.height = int32_t(readAlignedLe32(file.bitmapInfo + 8));
    BannerFileProblem problem = formatProblem(file.bitmapInfo);
    return problem != BannerFileProblem::None ? problem : layoutProblem(file, size);
}

bool readBannerFile(const uint8_t* view, uint32_t size, BannerFile& file) {
    return checkBannerFile(view, size, file) == BannerFileProblem::None;
}
