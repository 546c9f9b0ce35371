// The addresses the image's tables point at, looked up in the linked module
// by the symbol names the export table gives them: the entry routine, each
// export's code and the generated IAT.
#pragma once

#include "formats/exporttable/ExportTable.h"
#include "toolchain/imagewriter/ElfFile.h"

#include <cstdint>
#include <vector>

namespace imagewriter {

struct ModuleSymbols {
    uint32_t entryRva = 0;
    std::vector<uint32_t> exportRvas;  // parallel to ExportTable::rows()
    uint32_t iatRva = 0;
    uint32_t iatSize = 0;  // 4 bytes per import and a terminating zero word
    size_t iatSection = 0;  // index of the ELF section holding the IAT
};

// Throws ImageError listing every symbol that is missing or misplaced.
ModuleSymbols resolveModuleSymbols(const ElfFile& elf, const velmark::ExportTable& table);

}  // namespace imagewriter
