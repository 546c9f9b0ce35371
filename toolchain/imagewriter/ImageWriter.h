// Turns the linked module (ELF) and the export table into the bytes of
// VELMARK.dll: checks the module, lays out every section, then writes
// headers and contents in one pass.
#pragma once

#include "formats/common/DllNames.h"
#include "formats/exporttable/ExportTable.h"
#include "toolchain/imagewriter/ElfFile.h"
#include "toolchain/imagewriter/Layout.h"

#include <cstdint>
#include <string>
#include <vector>

namespace imagewriter {

constexpr const char* kExportDllName = velmark::kVelmarkDllName;
constexpr const char* kImportDllName = velmark::kCoredllDllName;

struct WrittenImage {
    std::vector<uint8_t> bytes;
    ImageLayout layout;
    size_t relocations = 0;
    size_t relocationBlocks = 0;
};

// Throws ImageError (or velmark::TableError from the table) on anything that
// would make the image wrong.
WrittenImage buildImage(const ElfFile& elf, const velmark::ExportTable& table);

}  // namespace imagewriter
