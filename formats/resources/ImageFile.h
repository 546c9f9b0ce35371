// Writes a small PE32 image for Windows CE ARM from ready sections: the
// language modules (resource-only DLLs) and the test applications that
// stand in for a real executable's resources.
#pragma once

#include "formats/pe/CeHeaders.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace mui {

constexpr uint32_t kPage = pe::kCeSectionAlignment;
constexpr uint32_t kFileAlignment = pe::kCeFileAlignment;

struct ImageSection {
    std::string name;
    uint32_t rva = 0;
    uint32_t virtualSize = 0;
    uint32_t characteristics = 0;
    std::vector<uint8_t> data;  // file-backed bytes; empty for uninitialised space
};

struct ImageContents {
    uint16_t characteristics = 0x210E;  // DLL, executable, 32-bit, stripped line numbers and symbols
    uint32_t imageBase = 0x100000;
    uint32_t entryPoint = 0;
    std::array<pe::DataDirectory, 16> directories{};
    std::vector<ImageSection> sections;  // ascending, page-aligned, adjacent
};

std::vector<uint8_t> writeImageFile(const ImageContents& contents);

}  // namespace mui
