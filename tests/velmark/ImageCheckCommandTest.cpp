// `velmark inspect` on the image the build made, and on copies of it with
// one deliberate fault each: every fault must be named.
#include "formats/pe/ArmFrames.h"
#include "tests/velmark/Subprocess.h"
#include "tests/support/TestImage.h"
#include "toolchain/imagecheck/ExceptionTableReport.h"
#include "toolchain/imagecheck/VelmarkImageCheck.h"

#include "formats/exporttable/ExportTable.h"
#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeFormat.h"
#include "formats/pe/PeImage.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace velmark::imagecheck;
using namespace velmark::testing;

const velmark::ExportTable& table() {
    static const velmark::ExportTable t = velmark::ExportTable::load(VELMARK_TABLE);
    return t;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

class InspectImage : public ::testing::Test {
protected:
    std::vector<uint8_t> bytes = readBytes(VELMARK_DLL);
    pe::Image image = pe::readImage(bytes);

    uint32_t exportAddressOffset(uint16_t ordinal) const {
        uint32_t functions = image.read32(image.directories[pe::kDirExport].rva + pe::format::kEdAddressOfFunctions);
        return image.fileOffsetAt(functions + 4 * (ordinal - image.ordinalBase), 4);
    }
    uint32_t exportRva(uint16_t ordinal) const { return image.exportAddresses[ordinal - image.ordinalBase]; }

    // The check's findings on the bytes as changed by the test.
    std::vector<std::string> mismatches() const { return checkVelmarkImage(pe::readImage(bytes), table()).mismatches; }
    void put32(uint32_t offset, uint32_t value) { pe::storeLe32(bytes.data() + offset, value); }
    uint32_t get32(uint32_t offset) const { return pe::loadLe32(bytes.data() + offset); }
};

TEST_F(InspectImage, TheBuiltImageMatchesTheTableThroughout) {
    VelmarkCheck check = checkVelmarkImage(image, table());
    EXPECT_TRUE(check.mismatches.empty()) << joined(check.mismatches);
    EXPECT_EQ(check.exportsChecked, 1675u);
    EXPECT_EQ(check.importsChecked, 1665u);
    EXPECT_EQ(check.forwardersChecked, 1649u);
    EXPECT_TRUE(isVelmarkImage(image));
}

TEST_F(InspectImage, NamesAForwarderThatJumpsThroughTheWrongSlot) {
    const uint32_t load = image.fileOffsetAt(exportRva(2) + 4, 4);
    put32(load, get32(load) ^ 4);  // InitializeCriticalSection now reaches a neighbouring slot
    std::vector<std::string> found = mismatches();
    ASSERT_EQ(found.size(), 1u) << joined(found);
    EXPECT_TRUE(contains(found[0], "ordinal 2 InitializeCriticalSection: its forwarder jumps through")) << found[0];
}

TEST_F(InspectImage, NamesAnExportWhoseAddressChanged) {
    // A forwarded row pointed four bytes into its forwarder.
    put32(exportAddressOffset(33), exportRva(33) + 4);
    // An override exported at a forwarder: the module's own code never runs.
    put32(exportAddressOffset(873), exportRva(1));
    // A row's slot emptied, and an empty slot filled.
    put32(exportAddressOffset(100), 0);
    put32(exportAddressOffset(554), exportRva(1));
    const std::string found = joined(mismatches());
    EXPECT_TRUE(contains(found, "ordinal 33 LocalAlloc: the code at RVA")) << found;
    EXPECT_TRUE(contains(found, "ordinal 873 LoadBitmapW is exported at the forwarder of ordinal 1 SystemStarted"))
        << found;
    EXPECT_TRUE(contains(found, "ordinal 100 IsRectEmpty has no address")) << found;
    EXPECT_TRUE(contains(found, "ordinal 554 is exported")) << found;
}

TEST_F(InspectImage, NamesImportAndNameTableFaults) {
    const pe::ImportedLibrary& coredll = image.imports[0];
    put32(image.fileOffsetAt(coredll.lookupTableRva, 4), 0x80000000u | 554);
    // "SystemStarted" -> "SystemStartee": the sorted order breaks and the row goes missing.
    const uint32_t names = image.read32(image.directories[pe::kDirExport].rva + pe::format::kEdAddressOfNames);
    for (size_t i = 0; i < image.namedExports.size(); ++i) {
        if (image.namedExports[i].name != "SystemStarted") continue;
        uint32_t at = image.fileOffsetAt(image.read32(names + 4 * uint32_t(i)), 14);
        bytes[at + 12] = 'e';
    }
    const std::string found = joined(mismatches());
    EXPECT_TRUE(contains(found, "import entry 0 is ordinal 554; the table calls for ordinal 1")) << found;
    EXPECT_TRUE(contains(found, "name \"SystemStartee\" is exported (ordinal 1) but the table has no such row")) << found;
    EXPECT_TRUE(contains(found, "ordinal 1 SystemStarted is not exported by name")) << found;
}

TEST_F(InspectImage, CommandFailsNamingTheFileAndEachMismatch) {
    ScratchDir dir;
    const std::string corrupt = dir.path("VELMARK.dll");
    const uint32_t load = image.fileOffsetAt(exportRva(2) + 4, 4);
    put32(load, get32(load) ^ 4);
    writeBytes(corrupt, bytes);

    RunResult r = runVelmark({"inspect", corrupt, "--table", VELMARK_TABLE});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "velmark inspect: " + corrupt + ": 1 mismatch against " VELMARK_TABLE)) << r.err;
    EXPECT_TRUE(contains(r.err, "\n  ordinal 2 InitializeCriticalSection: its forwarder jumps through")) << r.err;

    RunResult clean = runVelmark({"inspect", VELMARK_DLL});
    EXPECT_EQ(clean.exitCode, 0) << clean.err;
    EXPECT_TRUE(contains(clean.out, "machine ARM (0x1C0)")) << clean.out;
    EXPECT_TRUE(contains(clean.out, "subsystem    Windows CE GUI (9), version 4.10")) << clean.out;
    EXPECT_TRUE(contains(clean.out, "exports      1675 named, 1675 of 2055 address slots used from ordinal 1"))
        << clean.out;
    EXPECT_TRUE(contains(clean.out, "COREDLL.dll: 1665 (1657 by ordinal, 8 by name)")) << clean.out;
    EXPECT_TRUE(contains(clean.out, "matches the built-in exports/coredll.exports: 1675 exports, 1665 imports, "
                                    "1649 forwarders"))
        << clean.out;
}

// The exception table is listed and checked: entries in order, inside code,
// with the prologs their functions start with.
TEST_F(InspectImage, ChecksTheExceptionTable) {
    std::ostringstream listing;
    EXPECT_EQ(joined(writeExceptionTable(listing, image)), "");
    const pe::DataDirectory table = image.directories[pe::kDirException];
    EXPECT_TRUE(contains(listing.str(), "exception table: " + std::to_string(table.size / 8) + " entries")) << listing.str();
    EXPECT_TRUE(contains(listing.str(), "32-bit  stmdb sp!, {r4, ")) << listing.str();

    const uint32_t first = image.fileOffsetAt(table.rva, table.size);
    auto problems = [&] {
        std::ostringstream ignored;
        return joined(writeExceptionTable(ignored, pe::readImage(bytes)));
    };
    put32(first + 4, get32(first + 4) + 1);  // one more prolog instruction than the function has
    EXPECT_TRUE(contains(problems(), "entry 0 (0x")) << problems();
    put32(first + 4, get32(first + 4) - 1);
    const uint32_t second = get32(first + 8);
    put32(first + 8, get32(first));
    put32(first, second);
    EXPECT_TRUE(contains(problems(), "entry 1 (0x")) << problems();
    EXPECT_TRUE(contains(problems(), "out of order")) << problems();
    put32(first, image.imageBase + image.directories[pe::kDirExport].rva);
    EXPECT_TRUE(contains(problems(), "does not lie inside an executable section")) << problems();
}

TEST(InspectCommand, ReportsAnyImageAndRefusesNonImages) {
    ScratchDir dir;
    const std::string app = dir.path("app.exe");
    writeBytes(app, buildTestImage(typicalApplication()));
    RunResult r = runVelmark({"inspect", app});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "PE32 executable, machine ARM (0x1C0)")) << r.out;
    EXPECT_TRUE(contains(r.out, "    .idata   RVA 0x00002000")) << r.out;
    EXPECT_TRUE(contains(r.out, "imports      2 libraries, 7 entries")) << r.out;
    EXPECT_TRUE(contains(r.out, "COREDLL.dll: 5 (3 by ordinal, 2 by name)")) << r.out;
    EXPECT_TRUE(contains(r.out, "not VELMARK.dll")) << r.out;

    const std::string text = dir.path("notes.txt");
    writeBytes(text, {'h', 'e', 'l', 'l', 'o'});
    r = runVelmark({"inspect", text});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.err, "velmark inspect: " + text + ": not a readable PE image: DOS header")) << r.err;
}

}  // namespace
