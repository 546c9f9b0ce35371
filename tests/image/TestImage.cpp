#include "tests/image/TestImage.h"

#include <cstring>

namespace testimage {

void put16(std::vector<uint8_t>& file, uint32_t offset, uint16_t value) {
    file.at(offset) = uint8_t(value);
    file.at(offset + 1) = uint8_t(value >> 8);
}

void put32(std::vector<uint8_t>& file, uint32_t offset, uint32_t value) {
    put16(file, offset, uint16_t(value));
    put16(file, offset + 2, uint16_t(value >> 16));
}

namespace {

void putString(std::vector<uint8_t>& file, uint32_t offset, const char* text) {
    std::memcpy(&file.at(offset), text, std::strlen(text) + 1);
}

void putHeaders(std::vector<uint8_t>& f) {
    put16(f, 0, 0x5A4D);
    put32(f, 0x3C, kPeOffset);
    put32(f, kPeOffset, 0x00004550);
    put16(f, kFileHeader + 0, 0x1C0);      // machine
    put16(f, kFileHeader + 2, 2);          // sections
    put32(f, kFileHeader + 4, 0x12345678); // time stamp
    put16(f, kFileHeader + 16, 0xE0);      // optional header size
    put16(f, kFileHeader + 18, 0x2102);    // executable, 32-bit, DLL

    const uint32_t o = kOptionalHeader;
    put16(f, o + 0, 0x10B);
    put32(f, o + 4, 0x200);          // size of code
    put32(f, o + 8, 0x400);          // size of initialized data
    put32(f, o + 16, 0x1000);        // entry point
    put32(f, o + 20, 0x1000);        // base of code
    put32(f, o + 24, 0x2000);        // base of data
    put32(f, o + 28, 0x10000000);    // image base
    put32(f, o + 32, 0x1000);        // section alignment
    put32(f, o + 36, 0x200);         // file alignment
    put16(f, o + 40, 4);             // OS 4.10
    put16(f, o + 42, 10);
    put16(f, o + 44, 1);             // image 1.2
    put16(f, o + 46, 2);
    put16(f, o + 48, 4);             // subsystem 4.10
    put16(f, o + 50, 10);
    put32(f, o + 56, 0x3000);        // size of image
    put32(f, o + 60, 0x200);         // size of headers
    put32(f, o + 64, 0xABCD);        // checksum
    put16(f, o + 68, 9);             // Windows CE GUI
    put32(f, o + 72, 0x10000);       // stack reserve, commit
    put32(f, o + 76, 0x1000);
    put32(f, o + 80, 0x100000);      // heap reserve, commit
    put32(f, o + 84, 0x2000);
    put32(f, o + 92, 16);            // directories
    put32(f, o + 96 + 0 * 8, kExportDirRva);
    put32(f, o + 96 + 0 * 8 + 4, 0x90);
    put32(f, o + 96 + 1 * 8, kImportDirRva);
    put32(f, o + 96 + 1 * 8 + 4, 40);
    put32(f, o + 96 + 5 * 8, kRelocRva);
    put32(f, o + 96 + 5 * 8 + 4, kRelocSize);
    put32(f, o + 96 + 12 * 8, kIatRva);
    put32(f, o + 96 + 12 * 8 + 4, 12);

    const uint32_t text = kSectionTable;
    putString(f, text, ".text");
    put32(f, text + 8, 0x10);        // virtual size
    put32(f, text + 12, 0x1000);     // RVA
    put32(f, text + 16, 0x200);      // raw size
    put32(f, text + 20, kTextFile);  // raw offset
    put32(f, text + 36, 0x60000020);
    const uint32_t rdataHeader = kSectionTable + 40;
    std::memcpy(&f.at(rdataHeader), ".rdata12", 8);  // a full 8-byte name, no NUL
    put32(f, rdataHeader + 8, 0x300);
    put32(f, rdataHeader + 12, kRdataRva);
    put32(f, rdataHeader + 16, 0x400);
    put32(f, rdataHeader + 20, kRdataFile);
    put32(f, rdataHeader + 36, 0x40000040);
}

void putText(std::vector<uint8_t>& f) {
    put32(f, kTextFile + 0, 0xE3A00001);   // mov r0, #1
    put32(f, kTextFile + 4, 0xE12FFF1E);   // bx lr
    put32(f, kTextFile + 8, 0x10002000);   // absolute address of .rdata
    put32(f, kTextFile + 12, 0x10001000);  // absolute address of .text
}

void putExports(std::vector<uint8_t>& f) {
    const uint32_t d = rdata(kExportDirRva);
    put32(f, d + 12, 0x2060);  // name
    put32(f, d + 16, 5);       // base
    put32(f, d + 20, 3);       // address slots
    put32(f, d + 24, 2);       // names
    put32(f, d + 28, 0x2028);  // address table
    put32(f, d + 32, 0x2034);  // name pointers
    put32(f, d + 36, 0x203C);  // name ordinals
    put32(f, rdata(0x2028), 0x1000);
    put32(f, rdata(0x202C), 0);
    put32(f, rdata(0x2030), 0x1004);
    put32(f, rdata(0x2034), 0x2070);  // "Alpha" -> index 2, ordinal 7
    put32(f, rdata(0x2038), 0x2078);  // "Beta"  -> index 0, ordinal 5
    put16(f, rdata(0x203C), 2);
    put16(f, rdata(0x203E), 0);
    putString(f, rdata(0x2060), "TEST.dll");
    putString(f, rdata(0x2070), "Alpha");
    putString(f, rdata(0x2078), "Beta");
}

void putImports(std::vector<uint8_t>& f) {
    const uint32_t d = rdata(kImportDirRva);
    put32(f, d + 0, kLookupRva);
    put32(f, d + 12, kImportNameRva);
    put32(f, d + 16, kIatRva);
    for (uint32_t table : {kLookupRva, kIatRva}) {
        put32(f, rdata(table), 0x80000007);
        put32(f, rdata(table + 4), kHintNameRva);
        put32(f, rdata(table + 8), 0);
    }
    put16(f, rdata(kHintNameRva), 3);
    putString(f, rdata(kHintNameRva + 2), "Func");
    putString(f, rdata(kImportNameRva), "LIB.dll");
}

void putRelocations(std::vector<uint8_t>& f) {
    const uint32_t r = rdata(kRelocRva);
    put32(f, r + 0, 0x1000);
    put32(f, r + 4, 16);
    put16(f, r + 8, 0x3008);   // HIGHLOW 0x1008
    put16(f, r + 10, 0x300C);  // HIGHLOW 0x100C
    put16(f, r + 12, 0x1004);  // HIGH 0x1004
    put16(f, r + 14, 0x0000);  // ABSOLUTE padding
    put32(f, r + 16, 0x2000);
    put32(f, r + 20, 12);
    put16(f, r + 24, 0x3028);  // HIGHLOW 0x2028
    put16(f, r + 26, 0x0000);
}

}  // namespace

std::vector<uint8_t> build() {
    std::vector<uint8_t> f(kFileSize, 0);
    putHeaders(f);
    putText(f);
    putExports(f);
    putImports(f);
    putRelocations(f);
    return f;
}

}  // namespace testimage
