// The image writer on a small module linked for the test: a sound one whose
// every table entry and relocation is known by hand, then the same module
// broken one way at a time, each of which the writer must refuse by name.
#include "formats/exporttable/ExportTable.h"
#include "formats/pe/ArmFrames.h"
#include "formats/pe/Forwarder.h"
#include "formats/pe/PeImage.h"
#include "tests/image/Command.h"
#include "tests/image/SmallLink.h"
#include "toolchain/imagewriter/ElfFile.h"
#include "toolchain/imagewriter/ImageError.h"
#include "toolchain/imagewriter/ImageWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using testsupport::SmallLink;

// Ordinals 1, 3, 5 and 7: slots 2, 4 and 6 stay empty. Ordinal 3 wraps
// COREDLL's function (imported by ordinal), 5 is imported by name, 7 never.
const char* const kTable = R"(
1  First       ForwardByOrdinal
3  LocalThing  Local  wraps
5  Fifth       ForwardByName
7  Alone       Local  alone
)";

// Absolute words (each needs a base relocation): the literals of LocalThing
// and Alone, one word in .rodata and one in .data -- four in all, on three
// pages. The forwarders are room the writer fills, as exportgen leaves it.
const char* const kModule = R"(
    .syntax unified
    .arm
    .text
    .global DllMain
DllMain:
    mov r0, #1
    bx lr
    .global LocalThing
LocalThing:
    ldr ip, =coredll_iat_3
    ldr pc, [ip]
    .ltorg
    .global Alone
Alone:
    ldr r0, =counter
    ldr r0, [r0]
    bx lr
    .ltorg
    .global forward_1
forward_1:
    .space 8
    .global forward_5
forward_5:
    .space 8

    .section .rodata
    .global message
message:
    .word Alone
    .asciz "hello"

    .section .coredll_iat, "aw", %progbits
    .p2align 2
    .global coredll_iat
coredll_iat:
    .global coredll_iat_1
coredll_iat_1:
    .word 0
    .global coredll_iat_3
coredll_iat_3:
    .word 0
    .global coredll_iat_5
coredll_iat_5:
    .word 0
    .word 0
    .global coredll_iat_end
coredll_iat_end:

    .data
    .global pointer
pointer:
    .word message

    .bss
counter:
    .space 0x1000
)";

velmark::ExportTable smallTable(const std::string& extraRows = "") {
    return velmark::ExportTable::parse(std::string(kTable) + extraRows, "small.exports");
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("test module has no '" + from + "'");
    return text.replace(at, from.size(), to);
}

uint32_t symbolRva(const imagewriter::ElfFile& elf, const std::string& name) {
    const imagewriter::ElfSymbol* symbol = elf.findGlobal(name);
    if (!symbol) throw std::runtime_error("no symbol " + name);
    return symbol->value - 0x10000000;
}

class SmallModule : public ::testing::Test {
protected:
    void SetUp() override {
        link_ = std::make_unique<SmallLink>(kModule);
        ASSERT_TRUE(link_->linked()) << link_->log();
        elf_ = std::make_unique<imagewriter::ElfFile>(imagewriter::ElfFile::load(link_->elfPath()));
        written_ = imagewriter::buildImage(*elf_, smallTable());
        image_ = pe::readImage(written_.bytes);
    }

    std::unique_ptr<SmallLink> link_;
    std::unique_ptr<imagewriter::ElfFile> elf_;
    imagewriter::WrittenImage written_;
    pe::Image image_;
};

TEST_F(SmallModule, SectionsKeepTheLinkedAddresses) {
    ASSERT_EQ(image_.sections.size(), 6u);
    const char* names[] = {".text", ".rdata", ".data", ".edata", ".idata", ".reloc"};
    // The writer's own sections start on the first page after .bss.
    const uint32_t rvas[] = {0x1000, 0x2000, 0x3000, 0x5000, 0x6000, 0x7000};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(image_.sections[i].name, names[i]);
        EXPECT_EQ(image_.sections[i].virtualAddress, rvas[i]) << names[i];
        EXPECT_EQ(image_.sections[i].rawOffset % 0x200, 0u) << names[i];
    }
    // .data: four IAT words and one pointer on file; the 4 KB of .bss after
    // them take address space but no file space.
    EXPECT_EQ(image_.sections[2].virtualSize, 20u + 0x1000u);
    EXPECT_EQ(image_.sections[2].rawSize, 0x200u);
    EXPECT_EQ(image_.sections[2].characteristics, 0xC0000040u);
    EXPECT_EQ(image_.sections[0].characteristics, 0x60000020u);
    EXPECT_EQ(image_.sections[1].characteristics, 0x40000040u);
    EXPECT_EQ(image_.sections[5].characteristics, 0x42000040u);
    EXPECT_EQ(image_.sizeOfImage, 0x8000u);
    EXPECT_EQ(image_.sizeOfHeaders, 0x400u);  // six section headers overflow the first 0x200
    EXPECT_EQ(image_.entryPointRva, symbolRva(*elf_, "DllMain"));
    // The code arrives byte for byte, and each forwarder jumps through its slot.
    const imagewriter::ElfSection* text = nullptr;
    for (const auto& s : elf_->sections())
        if (s.name == ".text") text = &s;
    ASSERT_NE(text, nullptr);
    const uint32_t forwarders = symbolRva(*elf_, "forward_1") - 0x1000;
    EXPECT_EQ(image_.bytesAt(0x1000, forwarders), std::vector<uint8_t>(text->data.begin(), text->data.begin() + forwarders));
    for (int ordinal : {1, 5}) {
        uint32_t rva = symbolRva(*elf_, "forward_" + std::to_string(ordinal));
        EXPECT_EQ(pe::decodeForwarder(rva, image_.read32(rva), image_.read32(rva + 4)),
                  symbolRva(*elf_, "coredll_iat_" + std::to_string(ordinal)));
    }
}

TEST_F(SmallModule, ExportsEveryRowAtItsOrdinal) {
    EXPECT_EQ(image_.exportDllName, "VELMARK.dll");
    EXPECT_EQ(image_.ordinalBase, 1u);
    ASSERT_EQ(image_.exportAddresses.size(), 7u);
    EXPECT_EQ(image_.exportAddresses[0], symbolRva(*elf_, "forward_1"));
    EXPECT_EQ(image_.exportAddresses[1], 0u);
    EXPECT_EQ(image_.exportAddresses[2], symbolRva(*elf_, "LocalThing"));
    EXPECT_EQ(image_.exportAddresses[3], 0u);
    EXPECT_EQ(image_.exportAddresses[4], symbolRva(*elf_, "forward_5"));
    EXPECT_EQ(image_.exportAddresses[5], 0u);
    EXPECT_EQ(image_.exportAddresses[6], symbolRva(*elf_, "Alone"));
    ASSERT_EQ(image_.namedExports.size(), 4u);
    const std::pair<const char*, uint16_t> expected[] = {{"Alone", 7}, {"Fifth", 5}, {"First", 1}, {"LocalThing", 3}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(image_.namedExports[i].name, expected[i].first);
        EXPECT_EQ(image_.namedExports[i].ordinal, expected[i].second);
    }
}

TEST_F(SmallModule, ImportsWhatTheTableImports) {
    ASSERT_EQ(image_.imports.size(), 1u);
    const pe::ImportedLibrary& lib = image_.imports[0];
    EXPECT_EQ(lib.dllName, "COREDLL.dll");
    EXPECT_EQ(lib.iatRva, symbolRva(*elf_, "coredll_iat"));
    EXPECT_EQ(image_.directories[12].rva, lib.iatRva);
    EXPECT_EQ(image_.directories[12].size, 16u);
    EXPECT_EQ(image_.directories[1].size, 40u);  // one descriptor and the null one
    ASSERT_EQ(lib.entries.size(), 3u);
    EXPECT_TRUE(lib.entries[0].byOrdinal);
    EXPECT_EQ(lib.entries[0].ordinal, 1);
    EXPECT_TRUE(lib.entries[1].byOrdinal);
    EXPECT_EQ(lib.entries[1].ordinal, 3);
    EXPECT_FALSE(lib.entries[2].byOrdinal);
    EXPECT_EQ(lib.entries[2].name, "Fifth");
    EXPECT_EQ(lib.entries[0].slotRva, symbolRva(*elf_, "coredll_iat_1"));
    EXPECT_EQ(lib.entries[1].slotRva, symbolRva(*elf_, "coredll_iat_3"));
    EXPECT_EQ(lib.entries[2].slotRva, symbolRva(*elf_, "coredll_iat_5"));
    // The IAT on disk repeats the lookup table, zero word included.
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(image_.read32(lib.iatRva + 4 * i), image_.read32(lib.lookupTableRva + 4 * i)) << "slot " << i;
    EXPECT_EQ(image_.read32(lib.iatRva + 12), 0u);
    EXPECT_TRUE(image_.sectionAt(lib.iatRva)->characteristics & pe::kSectionWrite);
}

TEST_F(SmallModule, RelocatesExactlyTheAbsoluteWords) {
    auto literalAfter = [&](const std::string& symbol, uint32_t offset) { return symbolRva(*elf_, symbol) + offset; };
    std::vector<uint32_t> expected = {
        literalAfter("LocalThing", 8),  // literal pool after two instructions
        literalAfter("Alone", 12),
        symbolRva(*elf_, "message"),
        symbolRva(*elf_, "pointer"),
    };
    std::sort(expected.begin(), expected.end());
    std::vector<uint32_t> actual;
    for (const pe::BaseRelocation& r : image_.relocations) {
        EXPECT_EQ(r.type, pe::kRelocHighLow);
        actual.push_back(r.rva);
    }
    EXPECT_EQ(actual, expected);
    // Each relocated word holds the linked address of its target.
    EXPECT_EQ(image_.read32(literalAfter("LocalThing", 8)), 0x10000000 + symbolRva(*elf_, "coredll_iat_3"));
    EXPECT_EQ(image_.read32(symbolRva(*elf_, "pointer")), 0x10000000 + symbolRva(*elf_, "message"));
    // Three pages; the two pages with one entry each are padded to two.
    ASSERT_EQ(image_.relocationBlocks.size(), 3u);
    EXPECT_EQ(image_.relocationBlocks[0].pageRva, 0x1000u);
    EXPECT_EQ(image_.relocationBlocks[0].entryCount, 2u);
    EXPECT_EQ(image_.relocationBlocks[0].absoluteCount, 0u);
    EXPECT_EQ(image_.relocationBlocks[1].pageRva, 0x2000u);
    EXPECT_EQ(image_.relocationBlocks[1].entryCount, 2u);
    EXPECT_EQ(image_.relocationBlocks[1].absoluteCount, 1u);
    EXPECT_EQ(image_.relocationBlocks[2].pageRva, 0x3000u);
    EXPECT_EQ(written_.relocations, 4u);
    EXPECT_EQ(written_.relocationBlocks, 3u);
}

// The same inputs give the same bytes.
TEST_F(SmallModule, OutputIsReproducible) {
    imagewriter::WrittenImage again = imagewriter::buildImage(*elf_, smallTable());
    EXPECT_EQ(again.bytes, written_.bytes);
}

struct Fault {
    const char* what;
    std::string assembly;
    std::string table;
    std::string message;  // a part of the writer's error
    std::string linkerScript = testsupport::kSmallLinkerScript;
    std::string linkerArguments = "";
};

void expectRefused(const Fault& fault) {
    SCOPED_TRACE(fault.what);
    SmallLink link(fault.assembly, fault.linkerScript, fault.linkerArguments);
    ASSERT_TRUE(link.linked()) << link.log();
    try {
        imagewriter::ElfFile elf = imagewriter::ElfFile::load(link.elfPath());
        imagewriter::buildImage(elf, smallTable(fault.table));
        ADD_FAILURE() << "the writer accepted it";
    } catch (const imagewriter::ImageError& e) {
        EXPECT_NE(std::string(e.what()).find(fault.message), std::string::npos) << "message was: " << e.what();
    }
}

std::string withScript(const std::string& from, const std::string& to) {
    return replaced(testsupport::kSmallLinkerScript, from, to);
}

TEST(ImageWriterRefuses, SymbolProblems) {
    const std::string m = kModule;
    const Fault faults[] = {
        {"weak undefined symbol", m + "\n .data\n .weak missing_function\n .word missing_function\n", "",
         "symbol missing_function is undefined"},
        {"export without its symbol", m, "9 Ninth ForwardByOrdinal\n",
         "export Ninth (ordinal 9): symbol forward_9 is missing"},
        {"export that is data", m, "11 pointer Local alone\n", "export pointer (ordinal 11): symbol pointer at"},
        {"no entry routine", replaced(replaced(m, "DllMain:", "Start:"), ".global DllMain", ".global Start"), "",
         "entry point: symbol DllMain is missing", withScript("ENTRY(DllMain)", "")},
        {"IAT slots out of order",
         replaced(m, "coredll_iat_3:\n    .word 0\n    .global coredll_iat_5\ncoredll_iat_5:\n",
                  "coredll_iat_5:\n    .word 0\n    .global coredll_iat_3\ncoredll_iat_3:\n"),
         "", "IAT slot symbol coredll_iat_3 is at 0x10003008, expected 0x10003004"},
        {"IAT without its zero word", replaced(m, "    .word 0\n    .global coredll_iat_end", "    .global coredll_iat_end"),
         "", "should hold 3 slots and a terminating zero word"},
        {"IAT in read-only data", replaced(m, ".coredll_iat, \"aw\"", ".coredll_iat, \"a\""), "",
         "must lie in one writable section",
         withScript("*(.rodata .rodata.*)", "*(.rodata .rodata.*) *(.coredll_iat)")},
        {"forwarder beyond its slot's reach", replaced(m, "forward_1:\n", "forward_1:\n    .space 0x100000\n"), "",
         "cannot reach its import slot"},
        {"forwarder symbol on code", replaced(m, "forward_5:\n    .space 8", "forward_5:\n    bx lr\n    bx lr"), "",
         "the forwarder of Fifth at 0x1000102C is not the empty room"},
        {"relocation inside the IAT", replaced(m, "coredll_iat_1:\n    .word 0", "coredll_iat_1:\n    .word message"), "",
         "lies inside the IAT"},
    };
    for (const Fault& f : faults) expectRefused(f);
}

TEST(ImageWriterRefuses, VeneersGlueAndThumb) {
    const std::string m = kModule;
    const Fault faults[] = {
        {"veneer", m + "\n .text\n .global far_veneer\nfar_veneer:\n bx lr\n", "", "linker veneer far_veneer"},
        {"interworking glue", m + "\n .text\n .global __Alone_from_thumb\n__Alone_from_thumb:\n bx lr\n", "",
         "interworking glue __Alone_from_thumb"},
        {"glue section", m + "\n .section .glue_7, \"ax\", %progbits\n .word 0\n", "", "section .glue_7 holds 4 bytes"},
        {"v4_bx section", m + "\n .section .v4_bx, \"ax\", %progbits\n .word 0\n", "", "section .v4_bx holds"},
        {"Thumb function",
         m + "\n .text\n .thumb\n .thumb_func\n .global thumbFunction\nthumbFunction:\n bx lr\n .arm\n", "",
         "Thumb code"},
    };
    for (const Fault& f : faults) expectRefused(f);
}

// A sized function with a frame gets an entry with its prolog; a frameless
// one none. Each broken frame is refused by the function's name.
std::string function(const std::string& name, const std::string& body) {
    return "\n .text\n .global " + name + "\n .type " + name + ", %function\n" + name + ":\n" + body + "\n .size " + name + ", . - " + name + "\n";
}

TEST(ImageWriterExceptionTable, DescribesFramedFunctionsAndRefusesUndocumentedFrames) {
    const std::string framed = function("framed", "stmdb sp!, {r4, lr}\n sub sp, sp, #8\n bl DllMain\n"
                                                  "add sp, sp, #8\n ldmia sp!, {r4, pc}");
    SmallLink link(kModule + framed + function("leaf", "add r0, r0, #1\n bx lr"));
    ASSERT_TRUE(link.linked()) << link.log();
    imagewriter::ElfFile elf = imagewriter::ElfFile::load(link.elfPath());
    pe::Image image = pe::readImage(imagewriter::buildImage(elf, smallTable()).bytes);
    const pe::DataDirectory& table = image.directories[pe::kDirException];
    ASSERT_EQ(table.size, 8u);
    EXPECT_EQ(image.read32(table.rva), symbolRva(elf, "framed") + 0x10000000);
    EXPECT_EQ(image.read32(table.rva + 4), 2u | 5u << 8 | 1u << 30);

    const std::string m = kModule;
    const Fault faults[] = {
        {"shrink-wrapped prolog", m + function("late", "cmp r0, #0\n stmdb sp!, {r4, lr}\n ldmia sp!, {r4, pc}"), "",
         "function late at 0x"},
        {"frameless function moving sp", m + function("moving", "sub sp, sp, #8\n add sp, sp, #8\n bx lr"), "",
         "does not start with a prolog of a documented form"},
        {"epilog giving back too little", m + function("short", "stmdb sp!, {r4, lr}\n sub sp, sp, #8\n ldmia sp!, {r4, pc}"),
         "", "gives back 8 bytes of stack, but the prolog"},
        {"split epilog", m + function("split", "stmdb sp!, {r4, lr}\n ldmia sp!, {r4, lr}\n mov r0, #0\n bx lr"), "",
         "does not return in one contiguous sequence"},
        {"frame outside sized functions", m + "\n .text\nbare:\n stmdb sp!, {r4, lr}\n ldmia sp!, {r4, pc}\n", "",
         "(stmdb sp!, {r4, lr}) changes sp or lr outside every sized function symbol"},
        {"lr lost", m + function("lost", "stmdb sp!, {r4}\n bl DllMain\n ldmia sp!, {r4}\n bx lr"), "",
         "changes lr, which the prolog"},
    };
    for (const Fault& f : faults) expectRefused(f);
}

TEST(ImageWriterRefuses, RelocationsItCannotCarry) {
    const std::string m = kModule;
    const Fault faults[] = {
        {"PC-relative data word", m + "\n .data\n .word DllMain - .\n", "", "R_ARM_REL32 in .rel.data"},
        {"misaligned absolute word", m + "\n .data\n .byte 1\n .word message\n", "", "is not word-aligned"},
        {"absolute symbol", m + "\n .data\n .word absoluteValue\n", "",
         "holds 0x1234, which is not an address inside the image (symbol absoluteValue)",
         withScript("ENTRY(DllMain)", "ENTRY(DllMain)\nabsoluteValue = 0x1234;")},
    };
    for (const Fault& f : faults) expectRefused(f);
}

TEST(ImageWriterRefuses, SectionsItCannotPlace) {
    const std::string m = kModule;
    const Fault faults[] = {
        {"linked far above the image base", m, "", "lies outside the image's range",
         withScript(". = 0x10001000;", ". = 0x30001000;")},
        {"code over the headers", m, "", "lies outside the image's range",
         withScript(". = 0x10001000;", ". = 0x10000100;")},
        {"read-only data on the code's page", m, "", "shares a 4 KB page",
         withScript(". = ALIGN(0x1000);\n    .rdata", ".rdata")},
        {"static initialiser table", m + "\n .section .init_array, \"aw\", %init_array\n .word DllMain\n", "",
         "has SHT_INIT_ARRAY"},
        {"code split by data", m + "\n .section .late_code, \"ax\", %progbits\n bx lr\n", "",
         "separated from the other",
         withScript("    .bss :", "    . = ALIGN(0x1000);\n    .late : { *(.late_code) }\n    .bss :")},
        {"stripped of its symbols", m, "", "entry point: symbol DllMain is missing", testsupport::kSmallLinkerScript,
         "-s"},
    };
    for (const Fault& f : faults) expectRefused(f);
}

TEST(ImageWriterRefuses, FilesThatAreNotArmExecutables) {
    SmallLink link(kModule);
    ASSERT_TRUE(link.linked()) << link.log();
    std::string text = link.writeFile("text.elf", "not an ELF file at all");
    EXPECT_THROW(imagewriter::ElfFile::load(text), imagewriter::ImageError);
    EXPECT_THROW(imagewriter::ElfFile::load(link.pathOf("absent.elf")), imagewriter::ImageError);
    // The object file before linking is relocatable, not an executable.
    try {
        imagewriter::ElfFile::load(link.pathOf("module.o"));
        ADD_FAILURE() << "an object file was accepted";
    } catch (const imagewriter::ImageError& e) {
        EXPECT_NE(std::string(e.what()).find("not a linked executable"), std::string::npos) << e.what();
    }
}

// The command line: a summary on success; on failure exit status 1, the
// reason on stderr and no output file, not even an old one.
TEST(ImageWriterCommand, WritesOrRemovesTheImage) {
    SmallLink link(kModule);
    ASSERT_TRUE(link.linked()) << link.log();
    std::string table = link.writeFile("small.exports", kTable);
    std::string out = link.pathOf("out.dll");
    auto run = [&](const std::string& elf) {
        return testsupport::runCommand(std::string(IMAGEWRITER) + " " + testsupport::shellQuote(elf) + " " +
                                       testsupport::shellQuote(table) + " " + testsupport::shellQuote(out) + " 2>&1");
    };

    testsupport::CommandResult good = run(link.elfPath());
    EXPECT_EQ(good.exitCode, 0) << good.output;
    EXPECT_NE(good.output.find("exports      4 named, 4 of 7 address slots used from ordinal 1"), std::string::npos)
        << good.output;
    EXPECT_NE(good.output.find("COREDLL.dll: 3 (2 by ordinal, 1 by name)"), std::string::npos);
    EXPECT_NE(good.output.find("relocations  4 in 3 blocks"), std::string::npos);
    EXPECT_NE(good.output.find(".reloc   RVA 0x00007000"), std::string::npos);
    ASSERT_TRUE(std::filesystem::exists(out));
    std::ifstream written(out, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    EXPECT_NO_THROW(pe::readImage(bytes));

    SmallLink broken(std::string(kModule) + "\n .data\n .word DllMain - .\n");
    ASSERT_TRUE(broken.linked()) << broken.log();
    testsupport::CommandResult bad = run(broken.elfPath());
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.output.find("R_ARM_REL32"), std::string::npos) << bad.output;
    EXPECT_FALSE(std::filesystem::exists(out));

    testsupport::CommandResult usage = testsupport::runCommand(std::string(IMAGEWRITER) + " 2>&1");
    EXPECT_EQ(usage.exitCode, 2);
}

}  // namespace
