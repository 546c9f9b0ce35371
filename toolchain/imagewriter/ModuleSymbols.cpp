#include "toolchain/imagewriter/ModuleSymbols.h"

#include "toolchain/imagewriter/ImageError.h"
#include "toolchain/imagewriter/Layout.h"

namespace imagewriter {
namespace {

constexpr const char* kEntrySymbol = "DllMain";
constexpr const char* kIatStart = "coredll_iat";
constexpr const char* kIatEnd = "coredll_iat_end";

// The RVA of a code symbol: defined globally, in an executable section, on
// an ARM instruction boundary. Returns false after recording the problem.
bool codeRva(const ElfFile& elf, const std::string& name, const std::string& role, Problems& problems,
             uint32_t& rva) {
    const ElfSymbol* symbol = elf.findGlobal(name);
    if (!symbol || !symbol->defined()) {
        problems.add(role + ": symbol " + name + " is missing");
        return false;
    }
    const ElfSection* section = elf.sectionOf(*symbol);
    if (!section || !section->allocated() || !section->executable() || symbol->value < section->address ||
        symbol->value >= section->end()) {
        problems.add(role + ": symbol " + name + " at " + hex(symbol->value) + " is not in code");
        return false;
    }
    if (symbol->value % 4) {
        problems.add(role + ": symbol " + name + " at " + hex(symbol->value) + " is not word-aligned ARM code");
        return false;
    }
    rva = symbol->value - kImageBase;
    return true;
}

// The generated IAT: coredll_iat, then one word per import labelled
// coredll_iat_<ordinal> in imports() order, then a zero word before
// coredll_iat_end, all in one writable section with contents.
void resolveIat(const ElfFile& elf, const velmark::ExportTable& table, Problems& problems, ModuleSymbols& out) {
    const ElfSymbol* start = elf.findGlobal(kIatStart);
    const ElfSymbol* end = elf.findGlobal(kIatEnd);
    if (!start || !end || !start->defined() || !end->defined()) {
        problems.add(std::string("the IAT symbols ") + kIatStart + " and " + kIatEnd + " are missing");
        return;
    }
    const ElfSection* section = elf.sectionOf(*start);
    if (!section || !section->allocated() || !section->writable() || section->type != SHT_PROGBITS ||
        elf.sectionOf(*end) != section || start->value < section->address || end->value > section->end() ||
        end->value < start->value) {
        problems.add(std::string("the IAT (") + kIatStart + " to " + kIatEnd +
                     ") must lie in one writable section with contents");
        return;
    }
    if (start->value % 4) problems.add(std::string("the IAT at ") + hex(start->value) + " is not word-aligned");
    std::vector<velmark::ImportEntry> imports = table.imports();
    uint64_t expectedSize = 4 * (uint64_t(imports.size()) + 1);
    if (uint64_t(end->value) - start->value != expectedSize)
        problems.add(std::string("the IAT from ") + hex(start->value) + " to " + hex(end->value) + " should hold " +
                     std::to_string(imports.size()) + " slots and a terminating zero word (" +
                     std::to_string(expectedSize) + " bytes)");
    for (size_t i = 0; i < imports.size(); ++i) {
        std::string name = velmark::ExportTable::importSlotSymbol(imports[i].ordinal);
        const ElfSymbol* slot = elf.findGlobal(name);
        uint64_t expected = uint64_t(start->value) + 4 * i;
        if (!slot || !slot->defined())
            problems.add("IAT slot symbol " + name + " is missing");
        else if (slot->value != expected)
            problems.add("IAT slot symbol " + name + " is at " + hex(slot->value) + ", expected " + hex(expected) +
                         " (slot " + std::to_string(i) + " of the IAT)");
    }
    out.iatRva = start->value - kImageBase;
    out.iatSize = uint32_t(expectedSize);
    out.iatSection = section->index;
}

}  // namespace

ModuleSymbols resolveModuleSymbols(const ElfFile& elf, const velmark::ExportTable& table) {
    Problems problems(elf.path());
    ModuleSymbols out;
    codeRva(elf, kEntrySymbol, "entry point", problems, out.entryRva);
    for (const velmark::ExportEntry& row : table.rows()) {
        uint32_t rva = 0;
        codeRva(elf, velmark::ExportTable::exportSymbol(row),
                "export " + row.name + " (ordinal " + std::to_string(row.ordinal) + ")", problems, rva);
        out.exportRvas.push_back(rva);
    }
    resolveIat(elf, table, problems, out);
    problems.raiseIfAny();
    return out;
}

}  // namespace imagewriter
