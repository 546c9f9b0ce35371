// The headers of a Windows CE ARM image — DOS header, PE signature, file
// header, PE32 optional header with all 16 data directories, section table —
// written once here for both images the tools make: VELMARK.dll and the
// resource-only language modules.
#pragma once

#include "formats/pe/PeImage.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace pe {

// One page: page rights come from each section's flags, so no two sections
// may share a page.
constexpr uint32_t kCeSectionAlignment = 0x1000;
// 512, one disk sector: the smallest file alignment the PE format allows
// alongside page-sized section alignment, used by Microsoft's CE linkers and
// expected by tools that read such images.
constexpr uint32_t kCeFileAlignment = 0x200;

struct CeImageHeaders {
    uint16_t fileCharacteristics = 0;
    uint32_t imageBase = 0;
    uint32_t entryRva = 0;
    uint16_t imageMajor = 0;
    uint16_t imageMinor = 0;
    uint32_t imageSize = 0;
    std::array<DataDirectory, 16> directories{};
    std::vector<Section> sections;  // in RVA order; rawOffset 0 when rawSize is 0
};

// Bytes of the headers for that many sections, rounded up to the file
// alignment: where the first section's data starts.
uint32_t ceHeadersSize(size_t sectionCount);
// ceHeadersSize(headers.sections.size()) bytes, ready to go at file offset 0.
std::vector<uint8_t> writeCeHeaders(const CeImageHeaders& headers);

}  // namespace pe
