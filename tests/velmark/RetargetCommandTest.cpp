// `velmark retarget` as a user runs it: which files it writes and never
// touches, its exit statuses and messages, and that its output reads
// cleanly in llvm-readobj and pefile, which share no code with ours.
#include "tests/velmark/Subprocess.h"
#include "tests/support/TestImage.h"

#include "formats/pe/PeImage.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace velmark::testing;

class RetargetCommand : public ::testing::Test {
protected:
    ScratchDir dir;
    std::string app = dir.path("app.exe");
    std::vector<uint8_t> original = buildTestImage(typicalApplication("CoreDll.DLL"));

    void SetUp() override { writeBytes(app, original); }
};

TEST_F(RetargetCommand, WritesTheApplicationUnderItsOwnNameInAFolderAndLeavesTheInputAlone) {
    RunResult r = runVelmark({"retarget", app});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readBytes(app), original);
    const std::string out = dir.path("retargeted/app.exe");
    ASSERT_TRUE(fileExists(out));
    EXPECT_EQ(pe::readImageFile(out).imports[0].dllName, "VelmArk.DLL");
    EXPECT_TRUE(contains(r.out, "CoreDll.DLL -> VelmArk.DLL")) << r.out;
    EXPECT_TRUE(contains(r.out, "wrote " + out)) << r.out;

    // Run again: the default name is not overwritten.
    RunResult again = runVelmark({"retarget", app});
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_TRUE(contains(again.err, out + ": already exists")) << again.err;
}

TEST_F(RetargetCommand, UndoOfTheOutputRoundTripsByteForByte) {
    const std::string there = dir.path("there.exe"), back = dir.path("back.exe");
    ASSERT_EQ(runVelmark({"retarget", app, "-o", there}).exitCode, 0);
    RunResult r = runVelmark({"retarget", "--undo", there, "-o", back});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readBytes(back), original);
}

TEST_F(RetargetCommand, InPlaceKeepsABackupWhichUndoInPlaceRetiresAndNeverOverwritesAnother) {
    RunResult r = runVelmark({"retarget", "--in-place", app});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readBytes(app + ".bak"), original);
    const std::vector<uint8_t> retargeted = readBytes(app);
    EXPECT_EQ(pe::readImage(retargeted).imports[0].dllName, "VelmArk.DLL");

    // The backup holds exactly what undo restores: it is retired.
    RunResult undo = runVelmark({"retarget", "--undo", "--in-place", app});
    ASSERT_EQ(undo.exitCode, 0) << undo.err;
    EXPECT_EQ(readBytes(app), original);
    EXPECT_FALSE(fileExists(app + ".bak"));

    // A backup holding anything else is never overwritten.
    ASSERT_EQ(runVelmark({"retarget", "--in-place", app}).exitCode, 0);
    writeBytes(app + ".bak", {'o', 'l', 'd'});
    undo = runVelmark({"retarget", "--undo", "--in-place", app});
    EXPECT_EQ(undo.exitCode, 2);
    EXPECT_TRUE(contains(undo.err, app + ".bak: a backup already exists")) << undo.err;
    EXPECT_EQ(readBytes(app), retargeted);
    EXPECT_EQ(readBytes(app + ".bak"), std::vector<uint8_t>({'o', 'l', 'd'}));
}

TEST_F(RetargetCommand, RefusalsNameTheFileAndWriteNothing) {
    TestImagePlan plan = typicalApplication();
    plan.libraries[0].imports.push_back(TestImport::ordinalOf(554));
    plan.libraries[0].imports.push_back(TestImport::named("NoSuchCoredllFunction"));
    const std::string lacking = dir.path("lacking.exe");
    writeBytes(lacking, buildTestImage(plan));
    RunResult r = runVelmark({"retarget", lacking});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "velmark retarget: " + lacking + ": 2 of its COREDLL.dll imports")) << r.err;
    EXPECT_TRUE(contains(r.err, "\n  ordinal 554\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "\n  name \"NoSuchCoredllFunction\"\n")) << r.err;
    EXPECT_FALSE(fileExists(dir.path("retargeted")));

    plan = typicalApplication();
    plan.machine = 0x14C;
    const std::string x86 = dir.path("x86.exe");
    writeBytes(x86, buildTestImage(plan));
    r = runVelmark({"retarget", "--in-place", x86});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, x86 + ": machine x86 (0x14C) is not ARM")) << r.err;
    EXPECT_FALSE(fileExists(x86 + ".bak"));

    r = runVelmark({"retarget", dir.path("missing.exe")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.err, dir.path("missing.exe") + ": cannot be read")) << r.err;
}

TEST_F(RetargetCommand, BadUsageExitsWithTwo) {
    EXPECT_EQ(runVelmark({"retarget"}).exitCode, 2);
    EXPECT_EQ(runVelmark({"retarget", app, "--in-place", "-o", dir.path("x.exe")}).exitCode, 2);
    EXPECT_EQ(runVelmark({"retarget", app, "--no-such-option"}).exitCode, 2);
    RunResult self = runVelmark({"retarget", app, "-o", app});
    EXPECT_EQ(self.exitCode, 2);
    EXPECT_TRUE(contains(self.err, "use --in-place")) << self.err;
    EXPECT_EQ(readBytes(app), original);
    EXPECT_EQ(runVelmark({}).exitCode, 2);
    EXPECT_EQ(runVelmark({"no-such-command"}).exitCode, 2);
}

TEST(VelmarkHelp, EverySubcommandHasHelp) {
    for (const char* command : {"check", "inspect", "retarget", "mui-name", "banner-preview", "banner-check"}) {
        RunResult r = runVelmark({command, "--help"});
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_TRUE(contains(r.out, std::string("velmark ") + command)) << r.out;
    }
    RunResult version = runVelmark({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(contains(version.out, "velmark 1.0")) << version.out;
}

// The retargeted image as llvm-readobj sees it: no warning, the import
// renamed, every entry still there.
TEST_F(RetargetCommand, OutputReadsCleanlyInLlvmReadobj) {
    const std::string out = dir.path("out.exe");
    ASSERT_EQ(runVelmark({"retarget", app, "-o", out}).exitCode, 0);
    RunResult r = runProgram({LLVM_READOBJ, "--coff-imports", "--file-headers", out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(contains(r.out, "Name: VelmArk.DLL")) << r.out;
    EXPECT_TRUE(contains(r.out, "Name: WINSOCK.dll")) << r.out;
    EXPECT_TRUE(contains(r.out, "IMAGE_SUBSYSTEM_WINDOWS_CE_GUI")) << r.out;
    for (const char* symbol : {"Symbol:  (33)", "Symbol: wsprintfW (0)", "Symbol:  (873)", "Symbol: HeapAllocTrace (0)",
                               "Symbol:  (2055)", "Symbol: connect (0)"})
        EXPECT_TRUE(contains(r.out, symbol)) << symbol << "\n" << r.out;
}

TEST_F(RetargetCommand, OutputReadsCleanlyInPefileWithItsChecksumValid) {
    TestImagePlan plan = typicalApplication();
    plan.validChecksum = true;
    writeBytes(app, buildTestImage(plan));
    const std::string out = dir.path("out.exe");
    ASSERT_EQ(runVelmark({"retarget", app, "-o", out}).exitCode, 0);
    RunResult r = runProgram({PYTHON3, "-c",
                              "import pefile, sys\n"
                              "pe = pefile.PE(sys.argv[1])\n"
                              "print('warnings', pe.get_warnings())\n"
                              "print('checksum', pe.verify_checksum())\n"
                              "for d in pe.DIRECTORY_ENTRY_IMPORT:\n"
                              "    print(d.dll.decode(), [i.ordinal if i.import_by_ordinal else i.name.decode()"
                              " for i in d.imports])\n",
                              out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "warnings []\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "checksum True\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "VELMARK.dll [33, 'wsprintfW', 873, 'HeapAllocTrace', 2055]\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "WINSOCK.dll [3, 'connect']\n")) << r.out;
}

// Libraries that import each other, as OLECE400.dll imports MFCCE400.dll:
// routing one drags in its importers, and only a complete set is routed.
TEST_F(RetargetCommand, RoutesOnlyACompleteSetOfLibrariesAndUndoRestoresTheirNames) {
    TestImagePlan runtime, ole, plan = typicalApplication();
    runtime.exportsThunksAs = "MFCCE400.dll";
    runtime.libraries = {{"COREDLL.dll", {TestImport::named("LoadStringW")}}};
    ole.exportsThunksAs = "OLECE400.dll";
    ole.libraries = {{"COREDLL.dll", {TestImport::named("LoadMenuW")}}, {"MFCCE400.dll", {TestImport::named("LoadStringW")}}};
    plan.libraries.push_back({"MFCCE400.dll", {TestImport::named("LoadStringW")}});
    plan.libraries.push_back({"OLECE400.dll", {TestImport::named("LoadMenuW")}});
    const std::string mfcApp = dir.path("mfcapp.exe"), runtimeFile = dir.path("lib/MFCCE400.dll");
    std::filesystem::create_directories(dir.path("lib"));
    writeBytes(mfcApp, buildTestImage(plan));
    writeBytes(runtimeFile, buildTestImage(runtime));
    writeBytes(dir.path("OLECE400.dll"), buildTestImage(ole));  // beside the application: examined

    RunResult check = runVelmark({"check", mfcApp, "--library", "MFCCE400.dll=" + runtimeFile});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(contains(check.out, "its private copy: ZSPPR955.dll")) << check.out;
    EXPECT_TRUE(contains(check.out, "routing MFCCE400.dll drags in OLECE400.dll")) << check.out;
    EXPECT_TRUE(contains(check.out, "strings: reached through MFCCE400.dll (LoadStringW)")) << check.out;
    EXPECT_TRUE(contains(check.out, "menus: not reached: no module of the application loads menus through VELMARK; "
                                    "OLECE400.dll loads them from COREDLL itself (LoadMenuW)")) << check.out;
    RunResult partial = runVelmark({"retarget", mfcApp, "--library", "MFCCE400.dll=" + runtimeFile});
    EXPECT_EQ(partial.exitCode, 1);
    EXPECT_TRUE(contains(partial.err, "--library OLECE400.dll=" + dir.path("OLECE400.dll"))) << partial.err;
    EXPECT_FALSE(fileExists(dir.path("retargeted/mfcapp.exe")));

    RunResult r = runVelmark({"retarget", mfcApp, "--library", "MFCCE400.dll=" + runtimeFile, "--library",
                              "OLECE400.dll=" + dir.path("OLECE400.dll"), "--dialog-room"});
    ASSERT_EQ(r.exitCode, 1) << r.out << r.err;  // nothing to give room to
    EXPECT_TRUE(contains(r.err, "it has no resources")) << r.err;
    r = runVelmark({"retarget", mfcApp, "--library", "MFCCE400.dll=" + runtimeFile, "--library",
                    "OLECE400.dll=" + dir.path("OLECE400.dll")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "not examined (no file given or found beside " + mfcApp + "): WINSOCK.dll")) << r.out;
    pe::Image copy = pe::readImageFile(dir.path("retargeted/BYRPR955.dll"));
    EXPECT_EQ(copy.imports[0].dllName, "VELMARK.dll");
    EXPECT_EQ(copy.imports[1].dllName, "ZSPPR955.dll");
    EXPECT_EQ(pe::readImageFile(dir.path("retargeted/mfcapp.exe")).imports[3].dllName, "BYRPR955.dll");
    ASSERT_EQ(runVelmark({"retarget", "--undo", dir.path("retargeted/mfcapp.exe"), "-o", dir.path("back.exe")}).exitCode, 0);
    EXPECT_EQ(readBytes(dir.path("back.exe")), buildTestImage(plan));
}

}  // namespace
