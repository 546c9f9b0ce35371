// exportgen: checks the export table and writes the module's forwarders and
// its COREDLL import slots as ARM assembly.
//
//   exportgen TABLE OUT.S
#include "ExportTable.h"

#include <fstream>
#include <iostream>

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

// A forwarder loads its slot's address, then pc from the slot: no frame, no
// register but ip touched, so COREDLL returns straight to the caller.
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
            << "    ldr ip, [pc]\n"
            << "    ldr pc, [ip]\n"
            << "    .word " << velmark::ExportTable::importSlotSymbol(row.ordinal) << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: exportgen TABLE OUT.S\n";
        return 2;
    }
    try {
        velmark::ExportTable table = velmark::ExportTable::load(argv[1]);
        std::ofstream out(argv[2], std::ios::binary);
        if (!out) {
            std::cerr << "exportgen: " << argv[2] << ": cannot be written\n";
            return 1;
        }
        out << "@ Generated from " << argv[1] << " by exportgen; do not edit.\n";
        writeImportSlots(out, table);
        writeForwarders(out, table);
        if (!out.flush()) {
            std::cerr << "exportgen: " << argv[2] << ": write failed\n";
            return 1;
        }
    } catch (const velmark::TableError& e) {
        std::cerr << e.what();
        return 1;
    }
    return 0;
}
