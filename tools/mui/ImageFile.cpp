#include "ImageFile.h"

#include "CeHeaders.h"

#include <algorithm>

namespace mui {

std::vector<uint8_t> writeImageFile(const ImageSpec& spec) {
    pe::CeImageHeaders h;
    h.fileCharacteristics = spec.characteristics;
    h.imageBase = spec.imageBase;
    h.entryRva = spec.entryPoint;
    h.headersSize = pe::ceHeadersSize(spec.sections.size());
    h.imageSize = kPage;
    uint32_t fileSize = h.headersSize;
    for (size_t i = 0; i < spec.sections.size(); ++i) {
        const ImageSection& s = spec.sections[i];
        uint32_t raw = roundUp(uint32_t(s.data.size()), kFileAlignment);
        h.sections.push_back({s.name, s.rva, s.virtualSize, raw, raw ? fileSize : 0, s.characteristics});
        fileSize += raw;
        h.imageSize = std::max(h.imageSize, roundUp(s.rva + std::max<uint32_t>(s.virtualSize, 1), kPage));
    }
    for (uint32_t i = 0; i < h.directories.size(); ++i) h.directories[i] = {spec.directories[i][0], spec.directories[i][1]};

    std::vector<uint8_t> file = pe::writeCeHeaders(h);
    file.resize(fileSize);
    for (size_t i = 0; i < spec.sections.size(); ++i)
        std::copy(spec.sections[i].data.begin(), spec.sections[i].data.end(), file.begin() + h.sections[i].fileOffset);
    return file;
}

}  // namespace mui
