// The rewrite itself, on application images built here: what changes, what
// is refused and why, and that undoing restores the original exactly.
#include "tests/support/SampleApplication.h"
#include "tests/support/TestImage.h"
#include "velmark/lib/ApplicationRetarget.h"
#include "velmark/lib/DialogBudget.h"
#include "velmark/lib/PrivateName.h"
#include "velmark/lib/Retarget.h"

#include "formats/exporttable/ExportTable.h"
#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeImage.h"
#include "formats/pe/Resources.h"
#include "velmark/lib/ImageOffsets.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace velmark::cli;
using velmark::testing::buildTestImage;
using velmark::testing::TestImagePlan;
using velmark::testing::TestImport;
using velmark::testing::typicalApplication;

const velmark::ExportTable& table() {
    static const velmark::ExportTable t = velmark::ExportTable::load(VELMARK_TABLE);
    return t;
}

RetargetResult toVelmark(const std::vector<uint8_t>& file) {
    return retargetImage(file, RetargetDirection::ToVelmark, table());
}

RetargetResult toCoredll(const std::vector<uint8_t>& file) {
    return retargetImage(file, RetargetDirection::ToCoredll, table());
}

// The refusal's message (and details), or "" when the rewrite went through.
std::string refusal(const std::vector<uint8_t>& file, RetargetDirection direction) {
    try {
        retargetImage(file, direction, table());
    } catch (const RetargetRefused& e) {
        std::string text = e.what();
        for (const std::string& d : e.details()) text += "\n" + d;
        return text;
    }
    return "";
}

std::vector<size_t> differingOffsets(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    std::vector<size_t> at;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i]) at.push_back(i);
    return at;
}

TEST(Retarget, RenamesOnlyTheCoredllImportAndKeepsEveryEntry) {
    const std::vector<uint8_t> original = buildTestImage(typicalApplication());
    RetargetResult result = toVelmark(original);

    ASSERT_EQ(result.file.size(), original.size());
    pe::Image before = pe::readImage(original), after = pe::readImage(result.file);
    ASSERT_EQ(after.imports.size(), 2u);
    EXPECT_EQ(after.imports[0].dllName, "VELMARK.dll");
    EXPECT_EQ(after.imports[1].dllName, "WINSOCK.dll");
    for (size_t l = 0; l < 2; ++l) {
        ASSERT_EQ(after.imports[l].entries.size(), before.imports[l].entries.size());
        for (size_t i = 0; i < before.imports[l].entries.size(); ++i) {
            const pe::Import &b = before.imports[l].entries[i], &a = after.imports[l].entries[i];
            EXPECT_EQ(a.byOrdinal, b.byOrdinal);
            EXPECT_EQ(a.ordinal, b.ordinal);
            EXPECT_EQ(a.name, b.name);
            EXPECT_EQ(a.slotRva, b.slotRva);
        }
    }
    // Nothing but the eleven characters of the name changed.
    std::vector<size_t> changed = differingOffsets(original, result.file);
    ASSERT_FALSE(changed.empty());
    EXPECT_LE(changed.back() - changed.front(), 10u);
    EXPECT_EQ(result.importsChecked, 5u);
    ASSERT_EQ(result.renamed.size(), 1u);
    EXPECT_EQ(result.renamed[0].from, "COREDLL.dll");
    EXPECT_EQ(result.renamed[0].to, "VELMARK.dll");
}

TEST(Retarget, KeepsTheLetterCaseOfTheOriginalName) {
    EXPECT_EQ(nameWithCaseOf("COREDLL.dll", "VELMARK.dll"), "VELMARK.dll");
    EXPECT_EQ(nameWithCaseOf("coredll.dll", "VELMARK.dll"), "velmark.dll");
    EXPECT_EQ(nameWithCaseOf("CoreDll.DLL", "VELMARK.dll"), "VelmArk.DLL");
    EXPECT_EQ(nameWithCaseOf("VelmArk.DLL", "COREDLL.dll"), "CoreDll.DLL");

    RetargetResult result = toVelmark(buildTestImage(typicalApplication("CoreDll.DLL")));
    EXPECT_EQ(pe::readImage(result.file).imports[0].dllName, "VelmArk.DLL");
}

TEST(Retarget, UndoRestoresTheOriginalByteForByteForArmAndArmv4iApplications) {
    for (const char* name : {"COREDLL.dll", "coredll.dll", "CoreDll.DLL", "cOREDLL.DLL"}) {
        for (bool checksum : {false, true}) {
            TestImagePlan plan = typicalApplication(name);
            plan.validChecksum = checksum;
            plan.machine = checksum ? 0x1C2 : 0x1C0;
            const std::vector<uint8_t> original = buildTestImage(plan);
            RetargetResult there = toVelmark(original);
            EXPECT_NE(there.file, original);
            RetargetResult back = toCoredll(there.file);
            EXPECT_EQ(back.file, original) << name << (checksum ? " with checksum" : "");
        }
    }
}

TEST(Retarget, KeepsAValidChecksumValidAndLeavesOthersAlone) {
    TestImagePlan plan = typicalApplication();
    plan.validChecksum = true;
    const std::vector<uint8_t> original = buildTestImage(plan);
    RetargetResult result = toVelmark(original);
    EXPECT_TRUE(result.checksumUpdated);
    pe::Image after = pe::readImage(result.file);
    const uint32_t field = checksumFieldOffset(after);
    EXPECT_EQ(pe::loadLe32(result.file.data() + field), peChecksum(result.file, field));
    EXPECT_NE(pe::loadLe32(result.file.data() + field), pe::loadLe32(original.data() + field));

    // A zero checksum (what CE linkers write) stays zero.
    RetargetResult unchecked = toVelmark(buildTestImage(typicalApplication()));
    EXPECT_FALSE(unchecked.checksumUpdated);
    EXPECT_EQ(pe::loadLe32(unchecked.file.data() + field), 0u);
}

TEST(Retarget, RenamesEveryCoredllDescriptor) {
    TestImagePlan plan;
    plan.libraries.push_back({"COREDLL.dll", {TestImport::ordinalOf(33)}, 0});
    plan.libraries.push_back({"WINSOCK.dll", {TestImport::ordinalOf(3)}, 0});
    plan.libraries.push_back({"coredll.dll", {TestImport::named("LoadStringW")}, 0});
    RetargetResult result = toVelmark(buildTestImage(plan));
    pe::Image after = pe::readImage(result.file);
    EXPECT_EQ(after.imports[0].dllName, "VELMARK.dll");
    EXPECT_EQ(after.imports[1].dllName, "WINSOCK.dll");
    EXPECT_EQ(after.imports[2].dllName, "velmark.dll");
    EXPECT_EQ(result.importsChecked, 2u);
}

TEST(Retarget, ListsEveryImportVelmarkDoesNotExport) {
    TestImagePlan plan = typicalApplication();
    // 554 is one of the ordinals COREDLL's table leaves empty; names are
    // matched exactly, as the loader does.
    plan.libraries[0].imports.push_back(TestImport::ordinalOf(554));
    plan.libraries[0].imports.push_back(TestImport::named("NoSuchCoredllFunction"));
    plan.libraries[0].imports.push_back(TestImport::named("loadstringw"));
    // Imports of other libraries are none of VELMARK's business.
    plan.libraries[1].imports.push_back(TestImport::ordinalOf(554));
    std::vector<uint8_t> file = buildTestImage(plan);

    EXPECT_EQ(importsVelmarkLacks(pe::readImage(file), table()),
              (std::vector<std::string>{"ordinal 554", "name \"NoSuchCoredllFunction\"", "name \"loadstringw\""}));
    std::string why = refusal(file, RetargetDirection::ToVelmark);
    EXPECT_NE(why.find("3 of its COREDLL.dll imports are not exported by VELMARK.dll"), std::string::npos) << why;
    EXPECT_NE(why.find("ordinal 554"), std::string::npos) << why;
}

TEST(Retarget, RefusesWhatItCannotOrNeedNotRewrite) {
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        RetargetDirection direction;
        const char* expected;
    };
    TestImagePlan x86 = typicalApplication();
    x86.machine = 0x14C;
    x86.subsystem = 2;
    TestImagePlan desktopArm = typicalApplication();
    desktopArm.subsystem = 2;
    TestImagePlan noCoredll;
    noCoredll.libraries.push_back({"WINSOCK.dll", {TestImport::ordinalOf(3)}, 0});
    TestImagePlan bound = typicalApplication();
    bound.libraries[0].timeDateStamp = 0x3F000000;
    std::vector<uint8_t> truncated = buildTestImage(typicalApplication());
    truncated.resize(truncated.size() - 0x100);
    const std::vector<uint8_t> retargeted = toVelmark(buildTestImage(typicalApplication())).file;
    const std::string text = "MZ is all this file has in common with an image";
    const std::vector<uint8_t> velmarkDll = pe::readImageFile(VELMARK_DLL).file;
    // VELMARK's image under another DLL name: still COREDLL's interface.
    std::vector<uint8_t> pretender = velmarkDll;
    const std::string velmarkName = "VELMARK.dll";
    auto at = std::search(pretender.begin(), pretender.end(), velmarkName.begin(), velmarkName.end());
    std::copy_n("OTHERLB", 7, at);

    const std::vector<Case> cases = {
        {"x86 image", buildTestImage(x86), RetargetDirection::ToVelmark, "machine x86 (0x14C) is not ARM"},
        {"ARM desktop image", buildTestImage(desktopArm), RetargetDirection::ToVelmark, "is not Windows CE GUI (9)"},
        {"truncated image", truncated, RetargetDirection::ToVelmark, "not a PE image: raw data of section 1 (.idata)"},
        {"text file", std::vector<uint8_t>(text.begin(), text.end()), RetargetDirection::ToVelmark,
         "not a PE image: DOS header"},
        {"empty file", {}, RetargetDirection::ToVelmark, "not a PE image"},
        {"no COREDLL import", buildTestImage(noCoredll), RetargetDirection::ToVelmark,
         "no COREDLL.dll import to retarget (it imports: WINSOCK.dll)"},
        {"bound import", buildTestImage(bound), RetargetDirection::ToVelmark, "is bound"},
        {"already retargeted", retargeted, RetargetDirection::ToVelmark, "already retargeted"},
        {"undo of an original", buildTestImage(typicalApplication()), RetargetDirection::ToCoredll,
         "not retargeted: it has no VELMARK.dll import"},
        {"VELMARK.dll", velmarkDll, RetargetDirection::ToVelmark, "it is VELMARK.dll itself"},
        {"a DLL exporting COREDLL's interface", pretender, RetargetDirection::ToVelmark,
         "it exports 1675 of COREDLL's 1675 names"},
    };
    for (const Case& c : cases) {
        std::string why = refusal(c.file, c.direction);
        EXPECT_NE(why.find(c.expected), std::string::npos) << c.what << ": " << why;
    }
}

TEST(Retarget, PrivateLibraryNamesDifferInEveryLetterAndDigitAndUndoThemselves) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"mfcce400.dll", "zsppr955.dll"}, {"MFCCE400.DLL", "ZSPPR955.DLL"}, {"OleCe400.dll", "ByrPr955.dll"},
        {"my.lib.dll", "zl.yvo.dll"},     {"NOEXT", "ABRKG"},                {"_-_.dll", std::nullopt}};
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(privateLibraryName(name), expected) << name;
        if (expected) {
            EXPECT_EQ(privateLibraryName(*expected), name);
        }
    }
}

// Room for dialogs: every resource keeps its bytes at its new place, each
// dialog is followed by room for its texts to double, the original section
// stays, and undo gives back the original, checksum and all.
TEST(Retarget, DialogRoomLaysResourcesOutAgainAndUndoRestoresTheOriginal) {
    for (bool checksum : {false, true}) {
        TestImagePlan plan = typicalApplication();
        plan.resources = bench::sampleResources({40, 3, 2});
        plan.validChecksum = checksum;
        const std::vector<uint8_t> original = buildTestImage(plan);
        ApplicationRetarget there = retargetApplication({"app.exe", original, {}, 100, false}, table());
        ASSERT_TRUE(there.room);
        EXPECT_EQ(there.room->dialogs, 3u);
        const pe::Image before = pe::readImage(original), after = pe::readImage(there.application.file);
        ASSERT_EQ(after.sections.size(), before.sections.size() + 1);
        const pe::Section& room = after.sections.back();
        EXPECT_EQ(room.name, ".rsroom");
        EXPECT_EQ(after.directories[2].rva, room.virtualAddress);
        const pe::Section& rsrc = before.sections.back();
        EXPECT_TRUE(std::equal(original.begin() + rsrc.rawOffset, original.end(), there.application.file.begin() + rsrc.rawOffset));
        std::vector<pe::Resource> leaves = pe::readResources(after), old = pe::readResources(before);
        ASSERT_EQ(leaves.size(), old.size());
        for (size_t i = 0; i < leaves.size(); ++i) {
            EXPECT_EQ(pe::resourceBytes(after, leaves[i]), pe::resourceBytes(before, old[i]));
            uint32_t place = placeOf(after, leaves, leaves[i]);
            if (leaves[i].type.isId() && leaves[i].type.id == 5) {
                mui::Dialog dialog = mui::parseDialog(pe::resourceBytes(after, leaves[i]));
                EXPECT_GE(dialogBudget(dialog, place), 2 * translatableUnits(dialog));
            } else {
                EXPECT_LT(place, leaves[i].size + 4u);
            }
        }
        const uint32_t field = checksumFieldOffset(after);
        EXPECT_EQ(pe::loadLe32(there.application.file.data() + field) == peChecksum(there.application.file, field), checksum);
        EXPECT_EQ(retargetApplication({"app.exe", there.application.file, {}, std::nullopt, true}, table()).application.file,
                  original);
    }
    // The headers' free room must hold one more section header.
    TestImagePlan plan = typicalApplication();
    plan.bitmap284 = {40, 0, 0, 0};
    std::vector<uint8_t> crowded = buildTestImage(plan);
    const pe::Image image = pe::readImage(crowded);
    crowded[checksumFieldOffset(image) - 64 + 0xE0 + 3 * 40] = 1;
    try {
        retargetApplication({"app.exe", crowded, {}, 100, false}, table());
        ADD_FAILURE() << "an image without room for a section header was laid out";
    } catch (const RetargetRefused& e) {
        EXPECT_NE(std::string(e.what()).find("no room for one more section header"), std::string::npos) << e.what();
    }
}

}  // namespace
