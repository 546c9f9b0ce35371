// A small PE32 image for the reader's tests, laid out by hand with the
// offsets written out as numbers (not taken from the reader's own tables), so
// that a wrong offset in the reader cannot hide behind the same mistake here.
//
//   file 0x000  headers: DOS header, "PE\0\0" at 0x40, file header at 0x44,
//               optional header at 0x58, section table at 0x138
//   file 0x200  .text   RVA 0x1000, 0x10 bytes of code and two addresses
//   file 0x400  .rdata  RVA 0x2000, virtual size 0x300, raw size 0x400:
//               0x2000 export directory "TEST.dll", base 5, 3 slots, 2 names
//               0x2100 import descriptor for "LIB.dll" and the null one
//               0x2140 lookup table: ordinal 7, hint/name 3 "Func", 0
//               0x2180 IAT, same values
//               0x2200 base relocations: pages 0x1000 and 0x2000
#pragma once

#include <cstdint>
#include <vector>

namespace testimage {

constexpr uint32_t kPeOffset = 0x40;
constexpr uint32_t kFileHeader = 0x44;
constexpr uint32_t kOptionalHeader = 0x58;
constexpr uint32_t kSectionTable = 0x138;
constexpr uint32_t kTextFile = 0x200;
constexpr uint32_t kRdataFile = 0x400;
constexpr uint32_t kRdataRva = 0x2000;
constexpr uint32_t kFileSize = 0x800;

constexpr uint32_t kExportDirRva = 0x2000;
constexpr uint32_t kImportDirRva = 0x2100;
constexpr uint32_t kLookupRva = 0x2140;
constexpr uint32_t kHintNameRva = 0x2160;
constexpr uint32_t kImportNameRva = 0x2170;
constexpr uint32_t kIatRva = 0x2180;
constexpr uint32_t kRelocRva = 0x2200;
constexpr uint32_t kRelocSize = 28;

// File offset of an RVA in .rdata.
constexpr uint32_t rdata(uint32_t rva) { return kRdataFile + (rva - kRdataRva); }

std::vector<uint8_t> build();

// Little-endian stores into a built image, for corrupting it.
void put16(std::vector<uint8_t>& file, uint32_t offset, uint16_t value);
void put32(std::vector<uint8_t>& file, uint32_t offset, uint32_t value);

}  // namespace testimage
