// exportgen: checks the export table and writes the module's forwarders and
// its COREDLL import slots as ARM assembly, the list of exports the link
// must keep when it drops unreferenced sections, and the header giving the
// module's code each import slot by the function's name.
//
//   exportgen TABLE OUT.S ROOTS.ld SLOTS.h
#include "formats/exporttable/ExportTable.h"
#include "formats/pe/Forwarder.h"

#include <fstream>
#include <iostream>
#include <sstream>

namespace {

// Each slot is a word the loader fills with COREDLL's address for the function;
// the image writer points the import table's IAT at this array.
void writeImportSlots(std::ostream& out, const velmark::ExportTable& table) {
    out << "    .section .coredll_iat, \"aw\", %progbits\n"
           "    .p2align 2\n"
           "    .global coredll_iat\n"
           "coredll_iat:\n";
    for (const velmark::ImportEntry& import : table.imports()) {
        std::string slot = velmark::ExportTable::importSlotSymbol(import.ordinal);
        out << "    .global " << slot << "\n" << slot << ":\n    .word 0\n";
    }
    // The IAT, like the lookup table, ends in a zero word.
    out << "    .word 0\n    .global coredll_iat_end\ncoredll_iat_end:\n\n";
}

// Room for each forwarder's two instructions, which the image writer fills
// in once the layout places the forwarder and its slot (formats/pe/Forwarder.h).
void writeForwarders(std::ostream& out, const velmark::ExportTable& table) {
    out << "    .section .text.forwarders, \"ax\", %progbits\n"
           "    .arm\n"
           "    .p2align 2\n";
    for (const velmark::ExportEntry& row : table.rows()) {
        if (!row.forwarded()) continue;
        std::string symbol = velmark::ExportTable::exportSymbol(row);
        out << "@ " << row.ordinal << " " << row.name << "\n"
            << "    .global " << symbol << "\n"
            << "    .type " << symbol << ", %function\n"
            << symbol << ":\n"
            << "    .size " << symbol << ", " << pe::kForwarderSize << "\n"
            << "    .space " << pe::kForwarderSize << "\n";
    }
}

// Whether a name can be a C++ identifier (decorated names cannot).
bool isIdentifier(const std::string& name) {
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (name.empty() || !letter(name[0])) return false;
    for (char c : name)
        if (!letter(c) && !(c >= '0' && c <= '9')) return false;
    return true;
}

// Each import's index in the IAT by the function's name, for frame/coredll.h:
// a name the table does not import is a compile error naming it. Decorated
// names cannot be identifiers and are left out.
void writeSlotIndexes(std::ostream& out, const velmark::ExportTable& table) {
    out << "#pragma once\n\nnamespace coredll_slots {\nenum : unsigned {\n";
    const std::vector<velmark::ImportEntry> imports = table.imports();
    for (size_t i = 0; i < imports.size(); ++i)
        if (isIdentifier(imports[i].name)) out << "    " << imports[i].name << " = " << i << ",\n";
    out << "};\n}  // namespace coredll_slots\n";
}

// Every export is a root of the link's section garbage collection.
void writeRoots(std::ostream& out, const velmark::ExportTable& table) {
    for (const velmark::ExportEntry& row : table.rows())
        out << "EXTERN(" << velmark::ExportTable::exportSymbol(row) << ")\n";
}

bool writeFile(const char* path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    if (!out || !(out << text).flush()) {
        std::cerr << "exportgen: " << path << ": cannot be written\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: exportgen TABLE OUT.S ROOTS.ld SLOTS.h\n";
        return 2;
    }
    try {
        velmark::ExportTable table = velmark::ExportTable::load(argv[1]);
        std::ostringstream assembly, roots, slots;
        assembly << "@ Generated from " << argv[1] << " by exportgen; do not edit.\n";
        writeImportSlots(assembly, table);
        writeForwarders(assembly, table);
        roots << "/* Generated from " << argv[1] << " by exportgen; do not edit. */\n";
        writeRoots(roots, table);
        slots << "// Generated from " << argv[1] << " by exportgen; do not edit.\n";
        writeSlotIndexes(slots, table);
        if (!writeFile(argv[2], assembly.str()) || !writeFile(argv[3], roots.str()) || !writeFile(argv[4], slots.str()))
            return 1;
    } catch (const velmark::TableError& e) {
        std::cerr << e.what();
        return 1;
    }
    return 0;
}
