// The module as the build produced it: the export table, the linked ELF and
// VELMARK.dll, read once and shared by the tests of the real image.
#pragma once

#include "formats/exporttable/ExportTable.h"
#include "formats/pe/PeImage.h"
#include "toolchain/imagewriter/ElfFile.h"

#include <cstdint>
#include <set>
#include <string>

namespace testsupport {

struct BuiltModule {
    velmark::ExportTable table;
    imagewriter::ElfFile elf;
    pe::Image image;

    static const BuiltModule& get();

    // ELF address of a global symbol minus the image base; throws if missing.
    uint32_t symbolRva(const std::string& name) const;
    // RVAs of the words the link's R_ARM_ABS32 relocations fill in the
    // allocated sections, straight from the ELF.
    std::set<uint32_t> absoluteWordRvas() const;
};

}  // namespace testsupport
