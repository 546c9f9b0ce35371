#include "ExeBitmap.h"

#include "CommandError.h"
#include "FileIo.h"
#include "PeImage.h"
#include "Resources.h"

#include <optional>

namespace velmark::cli {
namespace {

constexpr uint16_t kBitmapType = 2;  // RT_BITMAP
constexpr uint16_t kBannerBitmapId = 284;
constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kBitFields = 3;

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// A bitmap resource is a BMP file without its 14-byte file header: the info
// header, any colour masks and colour table, then the pixel rows. The header
// put back in front says where the pixel rows start.
std::vector<uint8_t> asBmpFile(const std::vector<uint8_t>& dib, const std::string& what) {
    if (dib.size() < kInfoHeaderSize) throw CommandError(what + " is " + std::to_string(dib.size()) +
                                                         " bytes, too short for a bitmap info header");
    const uint32_t headerSize = le32(dib, 0);
    const uint32_t bitCount = uint32_t(dib[14] | dib[15] << 8);
    const uint32_t compression = le32(dib, 16);
    const uint32_t colorsUsed = le32(dib, 32);
    uint64_t colorTable = colorsUsed ? colorsUsed : bitCount <= 8 ? (1u << bitCount) : 0;
    uint64_t masks = headerSize == kInfoHeaderSize && compression == kBitFields ? 12 : 0;
    uint64_t pixelOffset = kFileHeaderSize + uint64_t(headerSize) + masks + 4 * colorTable;
    if (headerSize < kInfoHeaderSize || pixelOffset > kFileHeaderSize + dib.size())
        throw CommandError(what + ": its headers and colour table run past its " + std::to_string(dib.size()) +
                           " bytes");
    std::vector<uint8_t> file(kFileHeaderSize, 0);
    const uint64_t total = kFileHeaderSize + dib.size();
    file[0] = 'B';
    file[1] = 'M';
    for (int i = 0; i < 4; ++i) {
        file[2 + i] = uint8_t(total >> (8 * i));
        file[10 + i] = uint8_t(pixelOffset >> (8 * i));
    }
    file.insert(file.end(), dib.begin(), dib.end());
    return file;
}

}  // namespace

Picture bitmap284Of(const std::string& exePath) {
    pe::Image image;
    std::optional<pe::Resource> found;
    try {
        image = pe::readImage(readWholeFile(exePath));
        for (const pe::Resource& r : pe::readResources(image))
            if (r.type.isId() && r.type.id == kBitmapType && r.name.isId() && r.name.id == kBannerBitmapId) {
                found = r;
                break;
            }
    } catch (const pe::PeFormatError& e) {
        throw CommandError(exePath + ": not a readable PE image: " + e.what());
    }
    if (!found) throw CommandError(exePath + ": has no bitmap resource 284");
    const std::string what = exePath + ": bitmap resource 284";
    std::vector<uint8_t> dib;
    try {
        dib = pe::resourceBytes(image, *found);
    } catch (const pe::PeFormatError& e) {
        throw CommandError(what + " cannot be read: " + e.what());
    }
    return decodePicture(asBmpFile(dib, what), what);
}

}  // namespace velmark::cli
