#include "ExeBitmap.h"

#include "ByteOrder.h"
#include "CommandError.h"
#include "FileIo.h"
#include "PeImage.h"
#include "ResourceFormats.h"
#include "Resources.h"

#include <optional>

namespace velmark::cli {
namespace {

constexpr uint16_t kBannerBitmapId = 284;
constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kBitFields = 3;

// A bitmap resource is a BMP file without its 14-byte file header: the info
// header, any colour masks and colour table, then the pixel rows. The header
// put back in front says where the pixel rows start.
std::vector<uint8_t> asBmpFile(const std::vector<uint8_t>& dib, const std::string& what) {
    if (dib.size() < kInfoHeaderSize) throw CommandError(what + " is " + std::to_string(dib.size()) +
                                                         " bytes, too short for a bitmap info header");
    const uint32_t headerSize = pe::loadLe32(dib.data());
    const uint32_t bitCount = pe::loadLe16(dib.data() + 14);
    const uint32_t compression = pe::loadLe32(dib.data() + 16);
    const uint32_t colorsUsed = pe::loadLe32(dib.data() + 32);
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
            if (r.type.isId() && r.type.id == mui::kRtBitmap && r.name.isId() && r.name.id == kBannerBitmapId) {
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
