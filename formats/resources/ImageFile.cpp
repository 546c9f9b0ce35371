#include "formats/resources/ImageFile.h"

#include "formats/common/Align.h"
#include "formats/pe/CeHeaders.h"

#include <algorithm>

namespace mui {

std::vector<uint8_t> writeImageFile(const ImageContents& contents) {
    pe::CeImageHeaders h;
    h.fileCharacteristics = contents.characteristics;
    h.imageBase = contents.imageBase;
    h.entryRva = contents.entryPoint;
    h.imageSize = kPage;
    uint32_t fileSize = pe::ceHeadersSize(contents.sections.size());
    for (size_t i = 0; i < contents.sections.size(); ++i) {
        const ImageSection& s = contents.sections[i];
        uint32_t raw = velmark::alignUp(uint32_t(s.data.size()), kFileAlignment);
        h.sections.push_back({s.name, s.rva, s.virtualSize, raw ? fileSize : 0, raw, s.characteristics});
        fileSize += raw;
        h.imageSize = std::max(h.imageSize, velmark::alignUp(s.rva + std::max<uint32_t>(s.virtualSize, 1), kPage));
    }
    h.directories = contents.directories;

    std::vector<uint8_t> file = pe::writeCeHeaders(h);
    file.resize(fileSize);
    for (size_t i = 0; i < contents.sections.size(); ++i)
        std::copy(contents.sections[i].data.begin(), contents.sections[i].data.end(), file.begin() + h.sections[i].rawOffset);
    return file;
}

}  // namespace mui
