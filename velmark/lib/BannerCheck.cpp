#include "velmark/lib/BannerCheck.h"

#include "formats/pe/ByteOrder.h"

#include "module/banner/bannerFile.h"
#include "module/banner/bannerLayout.h"

namespace velmark::cli {
namespace {

using pe::loadLe32;

// biBitCount of the file's info header.
uint32_t bitCountOf(const BannerFile& file) { return pe::loadLe16(file.bitmapInfo + 14); }

std::string reason(BannerFileProblem problem, const BannerFile& file, size_t size) {
    const uint8_t* info = file.bitmapInfo;
    switch (problem) {
    case BannerFileProblem::None: return {};
    case BannerFileProblem::TooShort:
        return "the file has " + std::to_string(size) + " bytes, fewer than the " +
               std::to_string(kFileHeaderBytes + kBitmapInfoBytes) + " of a file header and a 40-byte info header";
    case BannerFileProblem::InfoHeaderSize:
        return "its info header is " + std::to_string(loadLe32(info)) +
               " bytes; only the 40-byte BITMAPINFOHEADER is drawn (save it as a plain Windows BMP)";
    case BannerFileProblem::Compressed:
        return "it is compressed (biCompression " + std::to_string(loadLe32(info + 16)) + "); only uncompressed BI_RGB is drawn";
    case BannerFileProblem::ColourTable:
        return "it has a colour table (biClrUsed " + std::to_string(loadLe32(info + 32)) + "); only files without one are drawn";
    case BannerFileProblem::BitCount:
        return "it has " + std::to_string(bitCountOf(file)) + " bits per pixel; only 16, 24 or 32 are drawn";
    case BannerFileProblem::Width:
        return "its width " + std::to_string(file.width) + " is not between 1 and 65536";
    case BannerFileProblem::Height:
        return "its height " + std::to_string(file.height) + " is 0 or beyond 65536 either way";
    case BannerFileProblem::PixelsOutside:
        return "its pixel rows (from offset " + std::to_string(file.pixelOffset) + ") run past the end of the " +
               std::to_string(size) + "-byte file";
    }
    return "unknown problem";
}

}  // namespace

BannerFileVerdict checkBannerFileBytes(const std::vector<uint8_t>& bytes) {
    BannerFileVerdict verdict;
    BannerFile file{};
    // The module sees a file of at most 4 GB (GetFileSize's low word).
    const uint32_t size = bytes.size() >= 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(bytes.size());
    const BannerFileProblem problem = checkBannerFile(bytes.data(), size, file);
    verdict.drawable = problem == BannerFileProblem::None;
    verdict.why = reason(problem, file, bytes.size());
    if (!verdict.drawable) return verdict;
    const bool topDown = file.height < 0;
    verdict.description = std::to_string(file.width) + " x " + std::to_string(topDown ? -file.height : file.height) +
                          ", " + std::to_string(bitCountOf(file)) + " bits per pixel, " + (topDown ? "top-down" : "bottom-up");
    if (topDown)
        verdict.warnings.push_back(
            "the file is top-down (negative height): its height goes to the draw as stored, so it is drawn as the "
            "platform draws a negative source height, which may be upside down on the device; save it bottom-up "
            "to be sure");
    if (file.width != int32_t(kBannerWidth) || (topDown ? -file.height : file.height) != int32_t(kBannerHeight))
        verdict.warnings.push_back("it is stretched to 800 x 407 without keeping its proportions");
    return verdict;
}

}  // namespace velmark::cli
