// The PE reader on a small hand-made image: every field read back, then the
// image truncated and corrupted structure by structure. Built with
// AddressSanitizer and UBSan, so a read outside the file fails the test even
// where the reader would not have thrown.
#include "formats/pe/PeImage.h"
#include "tests/image/TestImage.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace {

using namespace testimage;

TEST(PeReader, ReadsHeadersAndSections) {
    pe::Image image = pe::readImage(build());
    EXPECT_EQ(image.machine, 0x1C0);
    EXPECT_EQ(image.fileCharacteristics, 0x2102);
    EXPECT_EQ(image.timeDateStamp, 0x12345678u);
    EXPECT_EQ(image.sizeOfOptionalHeader, 0xE0);
    EXPECT_EQ(image.optionalMagic, 0x10B);
    EXPECT_EQ(image.sizeOfCode, 0x200u);
    EXPECT_EQ(image.sizeOfInitializedData, 0x400u);
    EXPECT_EQ(image.entryPointRva, 0x1000u);
    EXPECT_EQ(image.baseOfCode, 0x1000u);
    EXPECT_EQ(image.baseOfData, 0x2000u);
    EXPECT_EQ(image.imageBase, 0x10000000u);
    EXPECT_EQ(image.sectionAlignment, 0x1000u);
    EXPECT_EQ(image.fileAlignment, 0x200u);
    EXPECT_EQ(image.osMajor, 4);
    EXPECT_EQ(image.osMinor, 10);
    EXPECT_EQ(image.imageMajor, 1);
    EXPECT_EQ(image.imageMinor, 2);
    EXPECT_EQ(image.subsystemMajor, 4);
    EXPECT_EQ(image.subsystemMinor, 10);
    EXPECT_EQ(image.sizeOfImage, 0x3000u);
    EXPECT_EQ(image.sizeOfHeaders, 0x200u);
    EXPECT_EQ(image.checkSum, 0xABCDu);
    EXPECT_EQ(image.subsystem, 9);
    EXPECT_EQ(image.stackReserve, 0x10000u);
    EXPECT_EQ(image.stackCommit, 0x1000u);
    EXPECT_EQ(image.heapReserve, 0x100000u);
    EXPECT_EQ(image.heapCommit, 0x2000u);
    EXPECT_EQ(image.numberOfRvaAndSizes, 16u);
    ASSERT_EQ(image.directories.size(), 16u);
    EXPECT_EQ(image.directories[0].rva, kExportDirRva);
    EXPECT_EQ(image.directories[1].size, 40u);
    EXPECT_EQ(image.directories[5].size, kRelocSize);
    EXPECT_EQ(image.directories[12].rva, kIatRva);

    ASSERT_EQ(image.sections.size(), 2u);
    EXPECT_EQ(image.sections[0].name, ".text");
    EXPECT_EQ(image.sections[0].virtualAddress, 0x1000u);
    EXPECT_EQ(image.sections[0].virtualSize, 0x10u);
    EXPECT_EQ(image.sections[0].rawOffset, kTextFile);
    EXPECT_EQ(image.sections[0].rawSize, 0x200u);
    EXPECT_EQ(image.sections[0].characteristics, 0x60000020u);
    EXPECT_EQ(image.sections[1].name, ".rdata12");  // eight characters, no terminator
    EXPECT_EQ(image.sections[1].virtualSize, 0x300u);
}

TEST(PeReader, ReadsExportsImportsAndRelocations) {
    pe::Image image = pe::readImage(build());
    EXPECT_EQ(image.exportDllName, "TEST.dll");
    EXPECT_EQ(image.ordinalBase, 5u);
    EXPECT_EQ(image.exportAddresses, (std::vector<uint32_t>{0x1000, 0, 0x1004}));
    ASSERT_EQ(image.namedExports.size(), 2u);
    EXPECT_EQ(image.namedExports[0].name, "Alpha");
    EXPECT_EQ(image.namedExports[0].ordinal, 7);
    EXPECT_EQ(image.namedExports[1].name, "Beta");
    EXPECT_EQ(image.namedExports[1].ordinal, 5);

    ASSERT_EQ(image.imports.size(), 1u);
    const pe::ImportedLibrary& lib = image.imports[0];
    EXPECT_EQ(lib.dllName, "LIB.dll");
    EXPECT_EQ(lib.lookupTableRva, kLookupRva);
    EXPECT_EQ(lib.iatRva, kIatRva);
    ASSERT_EQ(lib.entries.size(), 2u);
    EXPECT_TRUE(lib.entries[0].byOrdinal);
    EXPECT_EQ(lib.entries[0].ordinal, 7);
    EXPECT_EQ(lib.entries[0].slotRva, kIatRva);
    EXPECT_FALSE(lib.entries[1].byOrdinal);
    EXPECT_EQ(lib.entries[1].hint, 3);
    EXPECT_EQ(lib.entries[1].name, "Func");
    EXPECT_EQ(lib.entries[1].slotRva, kIatRva + 4);

    ASSERT_EQ(image.relocations.size(), 4u);  // the ABSOLUTE padding is left out
    EXPECT_EQ(image.relocations[0].rva, 0x1008u);
    EXPECT_EQ(image.relocations[0].type, 3);
    EXPECT_EQ(image.relocations[1].rva, 0x100Cu);
    EXPECT_EQ(image.relocations[2].rva, 0x1004u);
    EXPECT_EQ(image.relocations[2].type, 1);
    EXPECT_EQ(image.relocations[3].rva, 0x2028u);
    ASSERT_EQ(image.relocationBlocks.size(), 2u);
    EXPECT_EQ(image.relocationBlocks[0].pageRva, 0x1000u);
    EXPECT_EQ(image.relocationBlocks[0].sizeOfBlock, 16u);
    EXPECT_EQ(image.relocationBlocks[0].entryCount, 4u);
    EXPECT_EQ(image.relocationBlocks[0].absoluteCount, 1u);
    EXPECT_EQ(image.relocationBlocks[1].entryCount, 2u);
}

TEST(PeReader, AccessorsStayInsideFileData) {
    pe::Image image = pe::readImage(build());
    EXPECT_EQ(image.read32(0x1008), 0x10002000u);
    EXPECT_EQ(image.bytesAt(0x1000, 4), (std::vector<uint8_t>{0x01, 0x00, 0xA0, 0xE3}));
    EXPECT_EQ(image.stringAt(kImportNameRva), "LIB.dll");
    EXPECT_EQ(image.sectionAt(0x2FFF), nullptr);  // past .rdata's virtual size
    EXPECT_EQ(image.sectionAt(0x0100), nullptr);  // headers
    EXPECT_EQ(image.sectionAt(0x22FF)->name, ".rdata12");
    EXPECT_THROW(image.read32(0x100E), pe::PeFormatError);       // straddles the end of .text's 0x10 bytes
    EXPECT_THROW(image.bytesAt(0x22F0, 0x20), pe::PeFormatError);  // runs past .rdata's virtual size
    EXPECT_THROW(image.bytesAt(0x2000, 0xFFFFFFFF), pe::PeFormatError);
    EXPECT_THROW(image.read32(0x5000), pe::PeFormatError);
}

TEST(PeReader, ImageWithoutDirectoriesHasNoTables) {
    std::vector<uint8_t> file = build();
    for (uint32_t dir : {0u, 1u, 5u, 12u}) {
        put32(file, kOptionalHeader + 96 + dir * 8, 0);
        put32(file, kOptionalHeader + 96 + dir * 8 + 4, 0);
    }
    pe::Image image = pe::readImage(file);
    EXPECT_TRUE(image.exportAddresses.empty());
    EXPECT_TRUE(image.namedExports.empty());
    EXPECT_TRUE(image.imports.empty());
    EXPECT_TRUE(image.relocations.empty());
}

TEST(PeReader, WalksTheIatWhenThereIsNoLookupTable) {
    std::vector<uint8_t> file = build();
    put32(file, rdata(kImportDirRva), 0);
    put32(file, rdata(kLookupRva), 0x80000009);  // would differ if the lookup table were read
    pe::Image image = pe::readImage(file);
    ASSERT_EQ(image.imports.at(0).entries.size(), 2u);
    EXPECT_EQ(image.imports[0].entries[0].ordinal, 7);
    EXPECT_EQ(image.imports[0].lookupTableRva, 0u);
}

// The file handed over must be the one kept, with nothing appended.
TEST(PeReader, KeepsTheFileBytes) {
    std::vector<uint8_t> file = build();
    pe::Image image = pe::readImage(file);
    EXPECT_EQ(image.file, file);
}

struct Corruption {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> apply;
    const char* message;  // a part of the error the reader must give
};

void expectRejected(const Corruption& c) {
    std::vector<uint8_t> file = build();
    c.apply(file);
    try {
        pe::readImage(file);
        ADD_FAILURE() << c.what << ": accepted";
    } catch (const pe::PeFormatError& e) {
        EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
            << c.what << ": message was \"" << e.what() << "\"";
    }
}

TEST(PeReader, RejectsBrokenHeaders) {
    const uint32_t o = kOptionalHeader;
    const Corruption cases[] = {
        {"no MZ", [](auto& f) { put16(f, 0, 0x4D5A); }, "MZ"},
        {"PE offset far outside", [](auto& f) { put32(f, 0x3C, 0xFFFFFFF0); }, "PE signature and file header"},
        {"PE offset near the end", [](auto& f) { put32(f, 0x3C, kFileSize - 10); }, "PE signature and file header"},
        {"no PE signature", [](auto& f) { put32(f, kPeOffset, 0x00004551); }, "PE signature"},
        {"optional header too short", [](auto& f) { put16(f, kFileHeader + 16, 0x40); }, "shorter than"},
        {"optional header runs off the file", [](auto& f) { put16(f, kFileHeader + 16, 0xFFFF); }, "optional header"},
        {"PE32+ magic", [o](auto& f) { put16(f, o, 0x20B); }, "not PE32"},
        {"17 directories", [o](auto& f) { put32(f, o + 92, 17); }, "exceeds"},
        {"16 directories in a short header", [](auto& f) { put16(f, kFileHeader + 16, 0x80); }, "cannot hold 16"},
        {"section table off the file", [](auto& f) { put16(f, kFileHeader + 2, 200); }, "section table"},
        {"raw data off the file", [](auto& f) { put32(f, kSectionTable + 40 + 20, 0x700); }, "raw data of section 1 (.rdata12)"},
        {"raw size overflows", [](auto& f) { put32(f, kSectionTable + 40 + 16, 0xFFFFFE00); }, "raw data of section 1"},
        {"sections overlap", [](auto& f) { put32(f, kSectionTable + 40 + 12, 0x1000); }, "overlaps the section before it"},
        {"section over the headers", [](auto& f) { put32(f, kSectionTable + 12, 0x100); }, "overlaps the headers"},
        {"section past SizeOfImage", [o](auto& f) { put32(f, o + 56, 0x2100); }, "beyond SizeOfImage"},
    };
    for (const Corruption& c : cases) expectRejected(c);
}

TEST(PeReader, RejectsBrokenExports) {
    const uint32_t d = rdata(kExportDirRva);
    const Corruption cases[] = {
        {"directory outside the sections", [](auto& f) { put32(f, kOptionalHeader + 96, 0x9000); }, "export directory"},
        {"directory in the headers", [](auto& f) { put32(f, kOptionalHeader + 96, 0x10); }, "export directory"},
        {"directory cut by the section end", [](auto& f) { put32(f, kOptionalHeader + 96, 0x22F0); }, "export directory"},
        {"DLL name outside", [d](auto& f) { put32(f, d + 12, 0x7000); }, "export directory DLL name"},
        {"DLL name without NUL",
         [d](auto& f) {
             put32(f, d + 12, 0x22F8);
             for (uint32_t i = 0; i < 8; ++i) f[rdata(0x22F8) + i] = 'x';
         },
         "no terminating NUL"},
        {"address table too long", [d](auto& f) { put32(f, d + 20, 0x40000000); }, "export address table"},
        {"address table count wraps", [d](auto& f) { put32(f, d + 20, 0xFFFFFFFF); }, "export address table"},
        {"name pointer table outside", [d](auto& f) { put32(f, d + 32, 0x12345678); }, "export name pointer table"},
        {"ordinal table outside", [d](auto& f) { put32(f, d + 36, 0x22FF); }, "export ordinal table"},
        {"name pointer 1 outside", [](auto& f) { put32(f, rdata(0x2038), 0x5000); }, "export name pointer 1"},
        {"name index beyond the addresses", [](auto& f) { put16(f, rdata(0x203E), 3); }, "beyond the 3 addresses"},
        {"ordinal beyond 65535", [d](auto& f) { put32(f, d + 16, 0xFFFF); }, "beyond 65535"},
    };
    for (const Corruption& c : cases) expectRejected(c);
}

TEST(PeReader, RejectsBrokenImports) {
    const uint32_t d = rdata(kImportDirRva);
    const Corruption cases[] = {
        {"descriptor outside", [](auto& f) { put32(f, kOptionalHeader + 96 + 8, 0x8000); }, "import descriptor 0"},
        {"DLL name outside", [d](auto& f) { put32(f, d + 12, 0x8000); }, "import descriptor 0 DLL name"},
        {"no IAT", [d](auto& f) { put32(f, d + 16, 0); }, "has no IAT"},
        {"IAT slot outside", [d](auto& f) { put32(f, d + 16, 0x22FC); }, "IAT slot of import lookup entry 1 of LIB.dll"},
        {"hint/name entry outside",
         [](auto& f) { put32(f, rdata(kLookupRva + 4), 0x7FFF0000); },
         "hint/name entry of import lookup entry 1 of LIB.dll"},
        {"name without NUL",
         [](auto& f) {
             put32(f, rdata(kLookupRva + 4), 0x22FA);
             for (uint32_t i = 0; i < 6; ++i) f[rdata(0x22FA) + i] = 'y';
         },
         "name of import lookup entry 1"},
        {"reserved ordinal bits", [](auto& f) { put32(f, rdata(kLookupRva), 0x80010007); }, "reserved bits"},
        {"lookup table without terminator",
         [d](auto& f) {
             put32(f, d, 0x22FC);
             put32(f, rdata(0x22FC), 0x80000001);
         },
         "import lookup entry 1 of LIB.dll"},
        {"descriptors without terminator",
         [](auto& f) {
             put32(f, kOptionalHeader + 96 + 8, 0x22EC);
             put32(f, rdata(0x22EC), kLookupRva);
             put32(f, rdata(0x22EC + 12), kImportNameRva);
             put32(f, rdata(0x22EC + 16), kIatRva);
         },
         "import descriptor 1"},
    };
    for (const Corruption& c : cases) expectRejected(c);
}

TEST(PeReader, RejectsBrokenRelocations) {
    const uint32_t r = rdata(kRelocRva);
    const uint32_t dirSize = kOptionalHeader + 96 + 5 * 8 + 4;
    const Corruption cases[] = {
        {"block smaller than its header", [r](auto& f) { put32(f, r + 4, 6); }, "at least 8 bytes and even"},
        {"odd block size", [r](auto& f) { put32(f, r + 4, 15); }, "at least 8 bytes and even"},
        {"block past the directory", [r](auto& f) { put32(f, r + 20, 0x1000); }, "runs past the end of the directory"},
        {"directory ends inside a header", [dirSize](auto& f) { put32(f, dirSize, kRelocSize + 2); }, "cut short"},
        {"directory past its section", [dirSize](auto& f) { put32(f, dirSize, 0x200); }, "base relocation directory"},
        {"target outside the image", [r](auto& f) { put32(f, r + 16, 0x2FFF000); }, "outside the image"},
        {"word straddles the image end", [r](auto& f) { put16(f, r + 24, 0x3FFE); }, "outside the image"},
    };
    for (const Corruption& c : cases) expectRejected(c);
}

// Every prefix of the image cuts into some structure the reader needs.
TEST(PeReader, RejectsEveryTruncation) {
    std::vector<uint8_t> file = build();
    for (size_t size = 0; size < file.size(); ++size) {
        std::vector<uint8_t> cut(file.begin(), file.begin() + long(size));
        EXPECT_THROW(pe::readImage(cut), pe::PeFormatError) << "truncated to " << size << " bytes";
    }
}

// Random damage: the reader either parses or throws PeFormatError, and never
// reads outside the file (AddressSanitizer would stop the test).
TEST(PeReader, SurvivesRandomDamage) {
    const std::vector<uint8_t> original = build();
    std::mt19937 random(20240607);
    std::uniform_int_distribution<size_t> position(0, original.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255), count(1, 4);
    int rejected = 0;
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> file = original;
        for (int n = count(random); n > 0; --n) file[position(random)] = uint8_t(byte(random));
        try {
            pe::readImage(file);
        } catch (const pe::PeFormatError&) {
            ++rejected;
        }
    }
    // Most damage lands in padding; some must hit a structure and be refused.
    EXPECT_GT(rejected, 100);
}

}  // namespace
