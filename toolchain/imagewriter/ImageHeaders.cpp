#include "toolchain/imagewriter/ImageHeaders.h"

#include "formats/pe/PeFormat.h"

namespace imagewriter {
namespace {

// The image version of this first release of the module.
constexpr uint16_t kImageMajor = 1;
constexpr uint16_t kImageMinor = 0;

}  // namespace

std::vector<uint8_t> buildHeaders(const ImageLayout& layout, uint32_t entryRva, const DataDirectories& directories) {
    using namespace pe::format;
    pe::CeImageHeaders h;
    // Never RELOCS_STRIPPED: the CE loader chooses the DLL's address itself.
    h.fileCharacteristics = kFileExecutableImage | kFile32BitMachine | kFileDll;
    h.imageBase = kImageBase;
    h.entryRva = entryRva;
    h.imageMajor = kImageMajor;
    h.imageMinor = kImageMinor;
    h.imageSize = layout.imageSize();
    h.directories = directories;
    for (const OutputSection& s : layout.sections())
        h.sections.push_back({s.name, s.rva, s.virtualSize, s.fileOffset, s.rawSize, s.characteristics});
    return pe::writeCeHeaders(h);
}

}  // namespace imagewriter
