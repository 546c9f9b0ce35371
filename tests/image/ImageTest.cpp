// VELMARK.dll as the build wrote it, checked against the export table and
// the linked ELF it came from.
#include "formats/pe/ArmFrames.h"
#include "formats/pe/Forwarder.h"
#include "tests/image/BuiltModule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace {

using testsupport::BuiltModule;

constexpr uint32_t kImageBase = 0x10000000;

const pe::Section& sectionNamed(const pe::Image& image, const std::string& name) {
    for (const pe::Section& s : image.sections)
        if (s.name == name) return s;
    throw std::runtime_error("the image has no section " + name);
}

bool containsRange(const pe::Section& s, uint32_t rva, uint32_t size) {
    return rva >= s.virtualAddress && uint64_t(rva) + size <= uint64_t(s.virtualAddress) + s.virtualSize;
}

TEST(BuiltImage, HeadersDescribeACeArmDll) {
    const BuiltModule& m = BuiltModule::get();
    const pe::Image& image = m.image;
    EXPECT_EQ(image.machine, 0x1C0);
    EXPECT_EQ(image.fileCharacteristics & 0x2102, 0x2102);  // executable, 32-bit, DLL
    EXPECT_EQ(image.fileCharacteristics & 0x0001, 0);       // relocations kept
    EXPECT_EQ(image.sizeOfOptionalHeader, 0xE0);
    EXPECT_EQ(image.optionalMagic, 0x10B);
    EXPECT_EQ(image.numberOfRvaAndSizes, 16u);
    EXPECT_EQ(image.imageBase, kImageBase);
    EXPECT_EQ(image.sectionAlignment, 0x1000u);
    EXPECT_EQ(image.fileAlignment, 0x200u);
    EXPECT_EQ(image.subsystem, 9);
    EXPECT_EQ(image.subsystemMajor, 4);
    EXPECT_EQ(image.subsystemMinor, 10);
    EXPECT_EQ(image.osMajor, 4);
    EXPECT_EQ(image.osMinor, 10);
    EXPECT_EQ(image.checkSum, 0u);
    EXPECT_GE(image.stackReserve, image.stackCommit);
    EXPECT_GE(image.heapReserve, image.heapCommit);
    EXPECT_GT(image.stackCommit, 0u);
    EXPECT_EQ(image.entryPointRva, m.symbolRva("DllMain"));
    EXPECT_EQ(image.sizeOfHeaders % 0x200, 0u);
    EXPECT_LE(image.sizeOfHeaders, image.sections.front().virtualAddress);
    const pe::Section& last = image.sections.back();
    EXPECT_EQ(image.sizeOfImage, (last.virtualAddress + last.virtualSize + 0xFFF) & ~0xFFFu);
}

TEST(BuiltImage, SectionsHaveTheirRightsAndPlaces) {
    const pe::Image& image = BuiltModule::get().image;
    const std::map<std::string, uint32_t> rights = {
        {".text", 0x60000020},  {".rdata", 0x40000040}, {".data", 0xC0000040},
        {".edata", 0x40000040}, {".idata", 0x40000040}, {".pdata", 0x40000040}, {".reloc", 0x42000040},
    };
    ASSERT_EQ(image.sections.size(), rights.size());
    for (const pe::Section& s : image.sections) {
        ASSERT_TRUE(rights.count(s.name)) << s.name;
        EXPECT_EQ(s.characteristics, rights.at(s.name)) << s.name;
        EXPECT_EQ(s.virtualAddress % 0x1000, 0u) << s.name;
        EXPECT_EQ(s.rawOffset % 0x200, 0u) << s.name;
        EXPECT_EQ(s.rawSize % 0x200, 0u) << s.name;
        EXPECT_LE(uint64_t(s.rawOffset) + s.rawSize, image.file.size()) << s.name;
    }
    EXPECT_EQ(image.file.size(), uint64_t(image.sections.back().rawOffset) + image.sections.back().rawSize);
    const auto& dirs = image.directories;
    EXPECT_TRUE(containsRange(sectionNamed(image, ".edata"), dirs[0].rva, dirs[0].size));
    EXPECT_TRUE(containsRange(sectionNamed(image, ".idata"), dirs[1].rva, dirs[1].size));
    EXPECT_TRUE(containsRange(sectionNamed(image, ".pdata"), dirs[3].rva, dirs[3].size));
    EXPECT_TRUE(containsRange(sectionNamed(image, ".reloc"), dirs[5].rva, dirs[5].size));
    EXPECT_TRUE(containsRange(sectionNamed(image, ".data"), dirs[12].rva, dirs[12].size));
}

// Every allocated ELF section lies at ELF address - ImageBase with the same
// bytes; the IAT alone differs, holding the lookup table's values.
TEST(BuiltImage, SectionsCarryTheLinkedBytes) {
    const BuiltModule& m = BuiltModule::get();
    const pe::ImportedLibrary& lib = m.image.imports.at(0);
    const uint32_t iatEnd = lib.iatRva + 4 * uint32_t(lib.entries.size() + 1);
    // The writer fills in the forwarders the link leaves empty.
    std::set<uint32_t> forwarderBytes;
    for (const velmark::ExportEntry& row : m.table.rows())
        for (uint32_t i = 0; row.forwarded() && i < pe::kForwarderSize; ++i)
            forwarderBytes.insert(m.image.exportAddresses.at(row.ordinal - 1) + i);
    int checked = 0;
    for (const imagewriter::ElfSection& s : m.elf.sections()) {
        if (!s.allocated() || s.size == 0) continue;
        uint32_t rva = s.address - kImageBase;
        const pe::Section* holder = m.image.sectionAt(rva);
        ASSERT_NE(holder, nullptr) << s.name;
        EXPECT_TRUE(containsRange(*holder, rva, s.size)) << s.name;
        if (s.type == SHT_NOBITS) {
            EXPECT_EQ(holder->characteristics & 0x80000000, 0x80000000u) << s.name << " is not writable";
            continue;
        }
        std::vector<uint8_t> bytes = m.image.bytesAt(rva, s.size);
        for (uint32_t i = 0; i < s.size; ++i) {
            uint32_t at = rva + i;
            if ((at >= lib.iatRva && at < iatEnd) || forwarderBytes.count(at)) continue;
            ASSERT_EQ(bytes[i], s.data[i]) << s.name << " differs at RVA 0x" << std::hex << at;
        }
        ++checked;
    }
    EXPECT_GE(checked, 3);  // code, read-only data, data
}

TEST(BuiltImage, ExportsEveryRowUnderItsOrdinalAndName) {
    const BuiltModule& m = BuiltModule::get();
    const pe::Image& image = m.image;
    EXPECT_EQ(image.exportDllName, "VELMARK.dll");
    EXPECT_EQ(image.ordinalBase, 1u);
    ASSERT_EQ(image.exportAddresses.size(), 2055u);
    ASSERT_EQ(image.namedExports.size(), 1675u);

    std::map<std::string, uint16_t> ordinalOf;
    for (const pe::NamedExport& e : image.namedExports) ordinalOf[std::string(e.name)] = e.ordinal;
    EXPECT_EQ(ordinalOf.size(), 1675u) << "duplicate names";
    for (const velmark::ExportEntry& row : m.table.rows()) {
        ASSERT_TRUE(ordinalOf.count(row.name)) << row.name << " is not exported by name";
        EXPECT_EQ(ordinalOf[row.name], row.ordinal) << row.name;
        EXPECT_EQ(image.exportAddresses[row.ordinal - 1], m.symbolRva(velmark::ExportTable::exportSymbol(row)))
            << row.name;
    }
    int empty = 0;
    for (uint16_t ordinal = 1; ordinal <= 2055; ++ordinal) {
        bool inTable = m.table.findOrdinal(ordinal) != nullptr;
        EXPECT_EQ(image.exportAddresses[ordinal - 1] == 0, !inTable) << "ordinal " << ordinal;
        empty += !inTable;
    }
    EXPECT_EQ(empty, 380);
    for (size_t i = 1; i < image.namedExports.size(); ++i)
        EXPECT_LT(image.namedExports[i - 1].name.compare(image.namedExports[i].name), 0)
            << image.namedExports[i - 1].name << " before " << image.namedExports[i].name;
}

TEST(BuiltImage, ImportsExactlyWhatTheTableImports) {
    const BuiltModule& m = BuiltModule::get();
    ASSERT_EQ(m.image.imports.size(), 1u);
    const pe::ImportedLibrary& lib = m.image.imports[0];
    EXPECT_EQ(lib.dllName, "COREDLL.dll");
    ASSERT_NE(lib.lookupTableRva, 0u);  // the CE loader walks the lookup table
    std::vector<velmark::ImportEntry> expected = m.table.imports();
    ASSERT_EQ(lib.entries.size(), expected.size());
    EXPECT_EQ(lib.entries.size(), 1665u);
    for (size_t i = 0; i < expected.size(); ++i) {
        const pe::Import& actual = lib.entries[i];
        EXPECT_EQ(actual.byOrdinal, !expected[i].byName) << "entry " << i;
        if (actual.byOrdinal)
            EXPECT_EQ(actual.ordinal, expected[i].ordinal) << "entry " << i;
        else
            EXPECT_EQ(actual.name, expected[i].name) << "entry " << i;
        EXPECT_EQ(actual.slotRva, m.symbolRva(velmark::ExportTable::importSlotSymbol(expected[i].ordinal)));
        EXPECT_EQ(actual.slotRva, lib.iatRva + 4 * i);
    }

    std::set<uint16_t> byOrdinal;
    std::set<std::string> byName;
    for (const pe::Import& e : lib.entries) e.byOrdinal ? void(byOrdinal.insert(e.ordinal)) : void(byName.insert(std::string(e.name)));
    EXPECT_EQ(byOrdinal.size(), 1641u + 16u);
    EXPECT_EQ(byName, (std::set<std::string>{"HeapAllocTrace", "Int_HeapAlloc", "Int_HeapCreate", "Int_HeapDestroy",
                                             "Int_HeapFree", "Int_HeapReAlloc", "Int_HeapSize", "LocalAllocTrace"}));
    for (const char* wraps : {"SHGetSpecialFolderPath", "PlaySoundW", "waveOutReset", "waveInPrepareHeader",
                              "waveInAddBuffer", "waveInReset", "waveInOpen", "GetOpenFileNameW", "GetSaveFileNameW",
                              "LoadResource", "CreateDialogIndirectParamW", "DialogBoxIndirectParamW", "LoadMenuW",
                              "CheckMenuItem", "LoadBitmapW", "LoadStringW"})
        EXPECT_TRUE(byOrdinal.count(m.table.findName(wraps)->ordinal)) << wraps << " is called by its override";
    for (const char* alone : {"SipStatus", "SipRegisterNotification", "SipShowIM", "SipGetInfo", "SipSetInfo",
                              "SipEnumIM", "SipGetCurrentIM", "SipSetCurrentIM", "SipSetDefaultRect", "CeZeroPointer"})
        EXPECT_FALSE(byOrdinal.count(m.table.findName(alone)->ordinal)) << alone << " is answered by the module alone";
    for (const velmark::ExportEntry& row : m.table.rows()) {
        if (row.disposition == velmark::Disposition::ForwardByOrdinal) {
            EXPECT_TRUE(byOrdinal.count(row.ordinal)) << row.name;
        }
    }
}

// On disk the IAT holds the lookup table's values and ends in a zero word;
// it lies in writable data, where the loader writes the bound addresses.
// Hint/name entries start on even addresses.
TEST(BuiltImage, IatOnDiskRepeatsTheLookupTable) {
    const BuiltModule& m = BuiltModule::get();
    const pe::ImportedLibrary& lib = m.image.imports.at(0);
    const uint32_t count = uint32_t(lib.entries.size());
    for (uint32_t i = 0; i <= count; ++i)
        ASSERT_EQ(m.image.read32(lib.iatRva + 4 * i), m.image.read32(lib.lookupTableRva + 4 * i)) << "slot " << i;
    EXPECT_EQ(m.image.read32(lib.iatRva + 4 * count), 0u);
    // The loader reads each hint as a halfword: a misaligned one faults on ARMv4.
    for (uint32_t i = 0; i < count; ++i) {
        if (!lib.entries[i].byOrdinal) {
            EXPECT_EQ(m.image.read32(lib.lookupTableRva + 4 * i) % 2, 0u) << lib.entries[i].name;
        }
    }
    EXPECT_EQ(m.image.directories[12].rva, lib.iatRva);
    EXPECT_EQ(m.image.directories[12].size, 4 * (count + 1));
    EXPECT_EQ(m.symbolRva("coredll_iat_end") - m.symbolRva("coredll_iat"), 4 * (count + 1));
    EXPECT_TRUE(m.image.sectionAt(lib.iatRva)->characteristics & 0x80000000);
}

// Every forwarder decodes to the IAT slot bound to COREDLL's function of the
// same ordinal (or name), and no base relocation touches forwarder code.
TEST(BuiltImage, ForwardersJumpThroughTheirOwnSlot) {
    const BuiltModule& m = BuiltModule::get();
    const pe::ImportedLibrary& lib = m.image.imports.at(0);
    std::map<uint16_t, uint32_t> slotByOrdinal;
    std::map<std::string, uint32_t> slotByName;
    for (const pe::Import& e : lib.entries)
        e.byOrdinal ? void(slotByOrdinal[e.ordinal] = e.slotRva) : void(slotByName[std::string(e.name)] = e.slotRva);
    std::set<uint32_t> relocated;
    for (const pe::BaseRelocation& r : m.image.relocations) relocated.insert(r.rva);

    int forwarders = 0;
    for (const velmark::ExportEntry& row : m.table.rows()) {
        if (!row.forwarded()) continue;
        uint32_t rva = m.image.exportAddresses.at(row.ordinal - 1);
        uint32_t slot = row.disposition == velmark::Disposition::ForwardByName ? slotByName.at(row.name)
                                                                              : slotByOrdinal.at(row.ordinal);
        ASSERT_EQ(pe::decodeForwarder(rva, m.image.read32(rva), m.image.read32(rva + 4)), slot) << row.name;
        ASSERT_FALSE(relocated.count(rva) || relocated.count(rva + 4)) << row.name;
        ++forwarders;
    }
    EXPECT_EQ(forwarders, 1649);
}

// The base relocations are exactly the link's absolute words and the
// exception table's start addresses: none missing, none extra.
TEST(BuiltImage, RelocatesExactlyTheLinkedAbsoluteWords) {
    const BuiltModule& m = BuiltModule::get();
    std::set<uint32_t> absolute = m.absoluteWordRvas();
    const pe::DataDirectory& table = m.image.directories[pe::kDirException];
    for (uint32_t at = 0; at < table.size; at += pe::arm::kRuntimeFunctionSize) absolute.insert(table.rva + at);
    std::set<uint32_t> relocated;
    for (const pe::BaseRelocation& r : m.image.relocations) {
        EXPECT_EQ(r.type, 3) << "RVA 0x" << std::hex << r.rva;  // HIGHLOW only: never type 5
        EXPECT_TRUE(relocated.insert(r.rva).second) << "RVA 0x" << std::hex << r.rva << " twice";
    }
    std::vector<uint32_t> missing, extra;
    std::set_difference(absolute.begin(), absolute.end(), relocated.begin(), relocated.end(), std::back_inserter(missing));
    std::set_difference(relocated.begin(), relocated.end(), absolute.begin(), absolute.end(), std::back_inserter(extra));
    EXPECT_TRUE(missing.empty()) << missing.size() << " absolute words without a base relocation";
    EXPECT_TRUE(extra.empty()) << extra.size() << " base relocations on words the link did not mark";
    EXPECT_FALSE(relocated.empty());

    // Each relocated word is an address inside the mapped image.
    for (uint32_t rva : relocated) {
        uint32_t value = m.image.read32(rva);
        EXPECT_GE(value, kImageBase + m.image.sections.front().virtualAddress) << "RVA 0x" << std::hex << rva;
        EXPECT_LE(value, kImageBase + m.image.sizeOfImage) << "RVA 0x" << std::hex << rva;
    }
}

TEST(BuiltImage, RelocationBlocksCoverOnePageEachInOrder) {
    const pe::Image& image = BuiltModule::get().image;
    ASSERT_FALSE(image.relocationBlocks.empty());
    size_t next = 0;
    uint32_t previousPage = 0;
    for (size_t b = 0; b < image.relocationBlocks.size(); ++b) {
        const pe::RelocationBlock& block = image.relocationBlocks[b];
        EXPECT_EQ(block.pageRva % 0x1000, 0u);
        if (b) {
            EXPECT_GT(block.pageRva, previousPage);
        }
        previousPage = block.pageRva;
        EXPECT_EQ(block.entryCount % 2, 0u) << "block " << b;
        EXPECT_LE(block.absoluteCount, 1u) << "block " << b;
        for (uint32_t i = 0; i < block.entryCount - block.absoluteCount; ++i, ++next) {
            ASSERT_LT(next, image.relocations.size());
            EXPECT_EQ(image.relocations[next].rva & ~0xFFFu, block.pageRva);
        }
    }
    EXPECT_EQ(next, image.relocations.size());
}

// A word in data or in a literal pool that holds an address inside the image
// is an absolute address the loader must adjust, so it must be relocated.
// Catches an address that reached the image without an R_ARM_ABS32.
TEST(BuiltImage, WordsHoldingImageAddressesAreRelocated) {
    const BuiltModule& m = BuiltModule::get();
    std::set<uint32_t> relocated;
    for (const pe::BaseRelocation& r : m.image.relocations) relocated.insert(r.rva);
    const uint32_t low = kImageBase + m.image.sections.front().virtualAddress;
    const uint32_t high = kImageBase + m.image.sizeOfImage;

    // Literal pools: the $d stretches of code, up to the next $a.
    std::vector<std::pair<uint32_t, bool>> marks;  // address, starts data
    for (const imagewriter::ElfSymbol& s : m.elf.symbols()) {
        if (s.name.rfind("$d", 0) == 0) marks.push_back({s.value, true});
        if (s.name.rfind("$a", 0) == 0) marks.push_back({s.value, false});
    }
    std::sort(marks.begin(), marks.end());
    auto inData = [&](const imagewriter::ElfSection& section, uint32_t address) {
        if (!section.executable()) return true;
        auto it = std::upper_bound(marks.begin(), marks.end(), std::make_pair(address, true));
        return it != marks.begin() && std::prev(it)->second;
    };

    const pe::ImportedLibrary& lib = m.image.imports.at(0);
    int scanned = 0;
    for (const imagewriter::ElfSection& s : m.elf.sections()) {
        if (!s.allocated() || s.type != SHT_PROGBITS) continue;
        for (uint32_t offset = (4 - s.address % 4) % 4; offset + 4 <= s.size; offset += 4) {
            uint32_t address = s.address + offset, rva = address - kImageBase;
            if (rva >= lib.iatRva && rva < lib.iatRva + 4 * (lib.entries.size() + 1)) continue;
            if (!inData(s, address)) continue;
            ++scanned;
            uint32_t value = m.image.read32(rva);
            if (value >= low && value < high) {
                EXPECT_TRUE(relocated.count(rva)) << s.name << " word at 0x" << std::hex << address << " holds 0x"
                                                  << value << " without a base relocation";
            }
        }
    }
    EXPECT_GT(scanned, 1649);
}

}  // namespace

namespace {

// The exception table: sorted, one entry per function of the link that
// saves anything on the stack (read from its first instruction), each
// covering exactly its function with the prolog its instructions hold.
TEST(BuiltImage, ExceptionTableDescribesEveryFramedFunction) {
    const BuiltModule& m = BuiltModule::get();
    const pe::DataDirectory& table = m.image.directories[pe::kDirException];
    std::map<uint32_t, pe::arm::RuntimeFunction> entries;
    for (uint32_t at = 0; at < table.size; at += pe::arm::kRuntimeFunctionSize) {
        auto f = pe::arm::RuntimeFunction::unpack(m.image.read32(table.rva + at), m.image.read32(table.rva + at + 4));
        EXPECT_TRUE(entries.empty() || f.start > entries.rbegin()->first) << "entry " << at / 8 << " out of order";
        EXPECT_TRUE(f.is32Bit && !f.hasHandler && f.prologLength >= 1) << "entry " << at / 8;
        entries[f.start] = f;
    }
    size_t framed = 0;
    for (const imagewriter::ElfSymbol& s : m.elf.symbols()) {
        const imagewriter::ElfSection* section = m.elf.sectionOf(s);
        if (s.type != STT_FUNC || !s.size || !section || !section->executable()) continue;
        std::vector<uint32_t> code;
        for (uint32_t k = 0; k < s.size / 4; ++k) code.push_back(m.image.read32(s.value - kImageBase + 4 * k));
        bool savesOnStack = (code[0] & 0xFFFF0000) == 0xE92D0000 || code[0] == 0xE52DE004 || code[0] == 0xE1A0C00D;
        ASSERT_EQ(entries.count(s.value), size_t(savesOnStack)) << s.name;
        if (!savesOnStack) continue;
        ++framed;
        EXPECT_EQ(entries.at(s.value).functionLength, s.size / 4) << s.name;
        EXPECT_EQ(entries.at(s.value).prologLength, pe::arm::decodeProlog(code).prologLength) << s.name;
    }
    EXPECT_EQ(framed, entries.size());
    EXPECT_GE(framed, 20u);
}

}  // namespace
