// Turns the linked module (ELF) and the export table into the bytes of
// VELMARK.dll: checks the module, lays out every section, then writes
// headers and contents in one pass.
#pragma once

#include "ElfFile.h"
#include "ExportTable.h"
#include "Layout.h"

#include <cstdint>
#include <string>
#include <vector>

namespace imagewriter {

constexpr const char* kExportDllName = "VELMARK.dll";
constexpr const char* kImportDllName = "COREDLL.dll";

struct WrittenImage {
    std::vector<uint8_t> bytes;
    ImageLayout layout;
    size_t exportNames = 0;
    size_t exportSlots = 0;
    size_t imports = 0;
    size_t importsByName = 0;
    size_t relocations = 0;
    size_t relocationBlocks = 0;
    size_t exceptionEntries = 0;
};

// Throws ImageError (or velmark::TableError from the table) on anything that
// would make the image wrong.
WrittenImage buildImage(const ElfFile& elf, const velmark::ExportTable& table);

// A few lines for the build log: sizes of the image and of each section, and
// the counts of exports, imports and base relocations.
std::string summarize(const WrittenImage& image);

}  // namespace imagewriter
