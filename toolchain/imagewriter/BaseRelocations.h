// The words of the image that hold absolute addresses, taken from the link's
// R_ARM_ABS32 relocations, and the base relocation directory that has the
// loader adjust each of them when it maps the image elsewhere.
#pragma once

#include "toolchain/imagewriter/ElfFile.h"

#include <cstdint>
#include <vector>

namespace imagewriter {

// RVAs of every absolute word in the allocated sections, sorted. Throws
// ImageError on a relocation type the writer does not know, and on an
// absolute word that is misaligned or does not point into the image.
std::vector<uint32_t> absoluteWordRvas(const ElfFile& elf);

// One block per 4 KB page, in page order, each of HIGHLOW entries padded
// with an ABSOLUTE entry to an even count so that the next block starts on a
// word boundary.
class BaseRelocationDirectory {
public:
    // rvas sorted; throws ImageError on a duplicate.
    explicit BaseRelocationDirectory(const std::vector<uint32_t>& rvas);

    uint32_t size() const { return size_; }
    size_t relocationCount() const { return count_; }
    size_t blockCount() const { return blocks_.size(); }
    std::vector<uint8_t> bytes() const;

private:
    struct Block {
        uint32_t pageRva = 0;
        std::vector<uint16_t> entries;
    };
    std::vector<Block> blocks_;
    uint32_t size_ = 0;
    size_t count_ = 0;
};

}  // namespace imagewriter
