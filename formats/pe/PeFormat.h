// Field offsets and fixed sizes of the PE32 structures, shared by the reader
// and the image writer so that both agree on one layout. Offsets are relative
// to the start of the structure they belong to.
#pragma once

#include <cstdint>

namespace pe {

// Data directory indexes: the one declaration for every reader and writer.
constexpr uint32_t kDirExport = 0;
constexpr uint32_t kDirImport = 1;
constexpr uint32_t kDirResource = 2;
constexpr uint32_t kDirException = 3;
constexpr uint32_t kDirBaseReloc = 5;
constexpr uint32_t kDirIat = 12;

}  // namespace pe

namespace pe::format {

// DOS header: only the magic and the pointer to the PE signature matter.
constexpr uint32_t kDosHeaderSize = 64;
constexpr uint16_t kDosMagic = 0x5A4D;  // "MZ"
constexpr uint32_t kDosNewHeaderField = 0x3C;  // e_lfanew

constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint32_t kPeSignatureSize = 4;

// File (COFF) header.
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kFhMachine = 0;
constexpr uint32_t kFhNumberOfSections = 2;
constexpr uint32_t kFhTimeDateStamp = 4;
constexpr uint32_t kFhPointerToSymbolTable = 8;
constexpr uint32_t kFhNumberOfSymbols = 12;
constexpr uint32_t kFhSizeOfOptionalHeader = 16;
constexpr uint32_t kFhCharacteristics = 18;

constexpr uint16_t kFileRelocsStripped = 0x0001;
constexpr uint16_t kFileExecutableImage = 0x0002;
constexpr uint16_t kFile32BitMachine = 0x0100;
constexpr uint16_t kFileDll = 0x2000;

// PE32 optional header.
constexpr uint16_t kOptionalMagicPe32 = 0x10B;
constexpr uint32_t kOhMagic = 0;
constexpr uint32_t kOhMajorLinkerVersion = 2;
constexpr uint32_t kOhMinorLinkerVersion = 3;
constexpr uint32_t kOhSizeOfCode = 4;
constexpr uint32_t kOhSizeOfInitializedData = 8;
constexpr uint32_t kOhSizeOfUninitializedData = 12;
constexpr uint32_t kOhAddressOfEntryPoint = 16;
constexpr uint32_t kOhBaseOfCode = 20;
constexpr uint32_t kOhBaseOfData = 24;
constexpr uint32_t kOhImageBase = 28;
constexpr uint32_t kOhSectionAlignment = 32;
constexpr uint32_t kOhFileAlignment = 36;
constexpr uint32_t kOhMajorOperatingSystemVersion = 40;
constexpr uint32_t kOhMinorOperatingSystemVersion = 42;
constexpr uint32_t kOhMajorImageVersion = 44;
constexpr uint32_t kOhMinorImageVersion = 46;
constexpr uint32_t kOhMajorSubsystemVersion = 48;
constexpr uint32_t kOhMinorSubsystemVersion = 50;
constexpr uint32_t kOhWin32VersionValue = 52;
constexpr uint32_t kOhSizeOfImage = 56;
constexpr uint32_t kOhSizeOfHeaders = 60;
constexpr uint32_t kOhCheckSum = 64;
constexpr uint32_t kOhSubsystem = 68;
constexpr uint32_t kOhDllCharacteristics = 70;
constexpr uint32_t kOhSizeOfStackReserve = 72;
constexpr uint32_t kOhSizeOfStackCommit = 76;
constexpr uint32_t kOhSizeOfHeapReserve = 80;
constexpr uint32_t kOhSizeOfHeapCommit = 84;
constexpr uint32_t kOhLoaderFlags = 88;
constexpr uint32_t kOhNumberOfRvaAndSizes = 92;
constexpr uint32_t kOhDataDirectories = 96;  // also the size of the fixed part
constexpr uint32_t kDataDirectorySize = 8;
constexpr uint32_t kDataDirectoryCount = 16;
// The Windows CE loader expects exactly this size: the fixed part and all
// sixteen directories, with the section table right after.
constexpr uint32_t kOptionalHeaderSize = kOhDataDirectories + kDataDirectoryCount * kDataDirectorySize;
static_assert(kOptionalHeaderSize == 0xE0);


// Section header.
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kShName = 0;
constexpr uint32_t kShNameSize = 8;
constexpr uint32_t kShVirtualSize = 8;
constexpr uint32_t kShVirtualAddress = 12;
constexpr uint32_t kShSizeOfRawData = 16;
constexpr uint32_t kShPointerToRawData = 20;
constexpr uint32_t kShCharacteristics = 36;

// Export directory.
constexpr uint32_t kExportDirectorySize = 40;
constexpr uint32_t kEdName = 12;
constexpr uint32_t kEdBase = 16;
constexpr uint32_t kEdNumberOfFunctions = 20;
constexpr uint32_t kEdNumberOfNames = 24;
constexpr uint32_t kEdAddressOfFunctions = 28;
constexpr uint32_t kEdAddressOfNames = 32;
constexpr uint32_t kEdAddressOfNameOrdinals = 36;

// Import descriptor.
constexpr uint32_t kImportDescriptorSize = 20;
constexpr uint32_t kIdOriginalFirstThunk = 0;
constexpr uint32_t kIdTimeDateStamp = 4;
constexpr uint32_t kIdForwarderChain = 8;
constexpr uint32_t kIdName = 12;
constexpr uint32_t kIdFirstThunk = 16;

constexpr uint32_t kImportByOrdinal = 0x80000000;
// Bits 16-30 of a by-ordinal lookup entry are reserved and must be zero.
constexpr uint32_t kImportOrdinalReserved = 0x7FFF0000;
constexpr uint32_t kHintSize = 2;

// Base relocation block.
constexpr uint32_t kRelocBlockHeaderSize = 8;
constexpr uint32_t kRelocEntrySize = 2;
constexpr uint32_t kRelocPageSize = 0x1000;
constexpr uint16_t kRelocArmMov32 = 5;  // read as a MIPS type by the Windows CE loader

// Resource directory: a table header, then named entries, then id entries;
// an entry's high bit marks a name (first word) or a subtable (second word).
constexpr uint32_t kResTableHeaderSize = 16;
constexpr uint32_t kResTableNamedCount = 12;
constexpr uint32_t kResTableIdCount = 14;
constexpr uint32_t kResEntrySize = 8;
constexpr uint32_t kResDataEntrySize = 16;
constexpr uint32_t kResHighBit = 0x80000000;

}  // namespace pe::format
