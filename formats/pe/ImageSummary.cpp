#include "formats/pe/ImageSummary.h"

#include "formats/common/Hex.h"
#include "formats/common/Printable.h"
#include "formats/pe/ArmFrames.h"
#include "formats/pe/PeFormat.h"

#include <cstdio>

namespace pe {

using velmark::hex;
using velmark::printable;
using velmark::quoted;

std::string machineLabel(uint16_t machine) { return machineName(machine) + " (" + hex(machine) + ")"; }

std::string machineName(uint16_t machine) {
    switch (machine) {
    case 0x14C: return "x86";
    case 0x166: return "MIPS R4000";
    case 0x1A2: return "SH3";
    case 0x1A6: return "SH4";
    case 0x1C0: return "ARM";  // ARMv4 and later in ARM state
    case 0x1C2: return "ARMV4I";
    case 0x1C4: return "ARM Thumb-2";
    case 0x8664: return "x86-64";
    case 0xAA64: return "ARM64";
    default: return "unknown";
    }
}

std::string subsystemName(uint16_t subsystem) {
    switch (subsystem) {
    case 1: return "native";
    case 2: return "Windows GUI";
    case 3: return "Windows console";
    case 9: return "Windows CE GUI";
    case 10: return "EFI application";
    default: return "unknown";
    }
}

std::string sectionFlags(uint32_t c) {
    std::string flags;
    auto add = [&](uint32_t bit, const char* name) {
        if (c & bit) flags += (flags.empty() ? "" : " ") + std::string(name);
    };
    add(kSectionCode, "code");
    add(kSectionInitializedData, "data");
    add(kSectionUninitializedData, "bss");
    add(kSectionDiscardable, "discardable");
    add(kSectionExecute, "execute");
    add(kSectionRead, "read");
    add(kSectionWrite, "write");
    return flags.empty() ? "-" : flags;
}

void writeSummary(std::ostream& out, const std::string& path, const pe::Image& image) {
    bool dll = image.fileCharacteristics & pe::format::kFileDll;
    out << path << "\n"
        << "  format       PE32 " << (dll ? "DLL" : "executable") << ", machine " << machineLabel(image.machine) << "\n"
        << "  subsystem    " << subsystemName(image.subsystem) << " (" << image.subsystem << "), version "
        << image.subsystemMajor << "." << image.subsystemMinor << "\n"
        << "  image base   " << hex(image.imageBase) << ", size " << hex(image.sizeOfImage) << ", entry point RVA "
        << hex(image.entryPointRva) << "\n"
        << "  file size    " << image.file.size() << " bytes\n"
        << "  sections     " << image.sections.size() << "\n";
    for (const pe::Section& s : image.sections) {
        char line[160];
        std::snprintf(line, sizeof line, "    %-8s RVA %s  virtual %s  raw %s at %s  ", printable(s.name).c_str(),
                      hex(s.virtualAddress, 8).c_str(), hex(s.virtualSize, 8).c_str(), hex(s.rawSize, 8).c_str(),
                      hex(s.rawOffset, 8).c_str());
        out << line << sectionFlags(s.characteristics) << "\n";
    }
    size_t slots = 0;
    for (uint32_t address : image.exportAddresses) slots += address != 0;
    if (image.directories[pe::kDirExport].rva == 0)
        out << "  exports      none\n";
    else
        out << "  exports      " << image.namedExports.size() << " named, " << slots << " of "
            << image.exportAddresses.size() << " address slots used from ordinal " << image.ordinalBase << ", as "
            << quoted(image.exportDllName) << "\n";
    size_t entries = 0;
    for (const pe::ImportedLibrary& library : image.imports) entries += library.entries.size();
    out << "  imports      " << image.imports.size() << (image.imports.size() == 1 ? " library, " : " libraries, ")
        << entries << " entries\n";
    for (const pe::ImportedLibrary& library : image.imports) {
        size_t byName = 0;
        for (const pe::Import& i : library.entries) byName += !i.byOrdinal;
        out << "    " << printable(library.dllName) << ": " << library.entries.size() << " (" << library.entries.size() - byName
            << " by ordinal, " << byName << " by name)\n";
    }
    out << "  relocations  " << image.relocations.size() << " in " << image.relocationBlocks.size() << " blocks\n";
    const DataDirectory& exceptions = image.directories[kDirException];
    if (exceptions.rva)
        out << "  exceptions   " << exceptions.size / arm::kRuntimeFunctionSize << " entries, " << exceptions.size
            << " bytes\n";
}

}  // namespace pe
