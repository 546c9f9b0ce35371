#include "velmark/lib/ExeBitmap.h"

#include "formats/bitmap/DibHeader.h"
#include "formats/pe/PeImage.h"
#include "formats/pe/Resources.h"
#include "formats/resources/ResourceFormats.h"
#include "velmark/lib/Failure.h"
#include "velmark/lib/FileIo.h"

#include <optional>

namespace velmark::cli {
namespace {

constexpr uint16_t kBannerBitmapId = 284;
using bitmap::kFileHeaderSize;

// A bitmap resource is a BMP file without its 14-byte file header: the info
// header, any colour masks and colour table, then the pixel rows. The header
// put back in front says where the pixel rows start.
std::vector<uint8_t> asBmpFile(const std::vector<uint8_t>& dib, const std::string& what) {
    std::optional<bitmap::DibHeader> header = bitmap::readDibHeader(dib.data(), dib.size());
    if (!header) throw Failure(what + " is " + std::to_string(dib.size()) +
                                    " bytes, too short for a bitmap info header");
    const uint64_t pixelOffset = kFileHeaderSize + header->pixelOffset();
    if (pixelOffset > kFileHeaderSize + dib.size())
        throw Failure(what + ": its headers and colour table run past its " + std::to_string(dib.size()) +
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
        throw Failure(exePath + ": not a readable PE image: " + e.what());
    }
    if (!found) throw Failure(exePath + ": has no bitmap resource 284");
    const std::string what = exePath + ": bitmap resource 284";
    std::vector<uint8_t> dib;
    try {
        dib = pe::resourceBytes(image, *found);
    } catch (const pe::PeFormatError& e) {
        throw Failure(what + " cannot be read: " + e.what());
    }
    return decodePicture(asBmpFile(dib, what), what);
}

}  // namespace velmark::cli
