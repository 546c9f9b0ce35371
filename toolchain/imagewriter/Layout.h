// The image's sections, their RVAs and file offsets, decided before any byte
// is written. The ELF's allocated sections keep the RVAs the link gave them
// (ELF address - ImageBase); the sections the writer builds follow, each on
// the next page.
#pragma once

#include "formats/pe/CeHeaders.h"
#include "toolchain/imagewriter/ElfFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace imagewriter {

// The module's preferred base: the linker script links at it, so every ELF
// address is ImageBase + RVA.
constexpr uint32_t kImageBase = 0x10000000;
constexpr uint32_t kSectionAlignment = pe::kCeSectionAlignment;
constexpr uint32_t kFileAlignment = pe::kCeFileAlignment;
// A Windows CE 4.x process slot is 32 MB; no larger image can be mapped.
constexpr uint32_t kImageSizeLimit = 0x02000000;

struct OutputSection {
    std::string name;
    uint32_t characteristics = 0;
    uint32_t rva = 0;
    uint32_t virtualSize = 0;
    uint32_t dataSize = 0;    // leading bytes that come from the file
    uint32_t rawSize = 0;     // dataSize rounded up to the file alignment
    uint32_t fileOffset = 0;  // 0 when rawSize is 0
    std::vector<size_t> elfSections;  // indexes of the ELF sections it holds

    uint64_t end() const { return uint64_t(rva) + virtualSize; }
};

class ImageLayout {
public:
    // Groups the allocated ELF sections by kind into .text (code), .rdata
    // (read-only data) and .data (writable data and .bss).
    static ImageLayout fromElf(const ElfFile& elf);

    // Appends a section the writer builds, on the first free page.
    void append(const std::string& name, uint32_t characteristics, uint32_t size);
    // Gives every section its file offset, in RVA order after the headers;
    // called once, after the last append.
    void assignFileOffsets();

    const std::vector<OutputSection>& sections() const { return sections_; }
    const OutputSection* find(const std::string& name) const;
    const OutputSection* sectionAt(uint32_t rva) const;
    uint32_t headersSize() const { return headersSize_; }
    uint32_t imageSize() const { return imageSize_; }
    uint32_t fileSize() const { return fileSize_; }

private:
    std::string path_;
    std::vector<OutputSection> sections_;
    uint32_t headersSize_ = 0;
    uint32_t imageSize_ = 0;
    uint32_t fileSize_ = 0;
};

constexpr uint32_t alignDown(uint32_t value, uint32_t alignment) {
    return value & ~(alignment - 1);
}

}  // namespace imagewriter
