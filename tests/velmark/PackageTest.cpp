// `velmark package`: the CAB it makes unpacks through Debian's cabextract
// with every file byte for byte, and `package --list` shows every field of
// it and of a CAB around a descriptor written by hand from the format's
// public description. Wrong requests and damaged CABs are refused.
#include "formats/cab/InstallCabinet.h"
#include "tests/support/HandWrittenDescriptor.h"
#include "tests/support/bitmapFiles.h"
#include "tests/support/SampleApplication.h"
#include "tests/support/TestImage.h"
#include "tests/velmark/Subprocess.h"
#include "velmark/lib/ApplicationRetarget.h"
#include "velmark/lib/MuiModuleBuilder.h"
#include "velmark/lib/TableSource.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace velmark::testing;

// A language module of `exe` that holds its resources where it has them.
std::vector<uint8_t> languageModuleOf(const std::vector<uint8_t>& exe, uint16_t language) {
    const pe::Image host = pe::readImage(exe);
    return velmark::cli::buildLanguageModule(host, velmark::cli::readApplicationResources(host, "app.exe"), {},
                                             language, "app.exe")
        .file;
}

// An application with resources and the MFC runtime beside it, its banner
// file and two language modules in `dir`.
void writeInputs(const ScratchDir& dir) {
    TestImagePlan plan = typicalApplication();
    plan.resources = bench::sampleResources({4, 1, 1});
    plan.libraries.push_back({"mfcce400.dll", {TestImport::named("LoadStringW")}});
    const std::vector<uint8_t> exe = buildTestImage(plan);
    writeBytes(dir.path("app.exe"), exe);
    TestImagePlan runtime;
    runtime.exportsThunksAs = "MFCCE400.DLL";
    runtime.libraries = {{"COREDLL.dll", {TestImport::named("LoadStringW")}}};
    writeBytes(dir.path("mfcce400.dll"), buildTestImage(runtime));
    writeBytes(dir.path("app.bmp"), makeBitmapFile(BitmapFileShape{}));
    writeBytes(dir.path("app.exe.0407.mui"), languageModuleOf(exe, 0x0407));
    writeBytes(dir.path("app.exe.0409.mui"), languageModuleOf(exe, 0x0409));
}

TEST(PackageCommand, MadePackageUnpacksByteForByteAndListsEveryField) {
    ScratchDir dir;
    writeInputs(dir);
    RunResult made = runVelmark({"package", dir.path("app.exe"), "--install-dir", "\\Program Files\\App", "--banner",
                                 dir.path("app.bmp"), "--mui", dir.path("app.exe.0407.mui"), "--mui",
                                 dir.path("app.exe.0409.mui"), "--syslang", "407", "--library",
                                 "mfcce400.dll=" + dir.path("mfcce400.dll"), "-o", dir.path("app.cab")});
    ASSERT_EQ(made.exitCode, 0) << made.err;

    const std::vector<uint8_t> dll = readBytes(VELMARK_DLL);
    const velmark::cli::ApplicationRetarget retargeted = velmark::cli::retargetApplication(
        {dir.path("app.exe"), readBytes(dir.path("app.exe")), {{"mfcce400.dll", dir.path("mfcce400.dll")}}, {}, false},
        velmark::cli::loadTable("").table);
    const std::vector<uint8_t>& app = retargeted.application.file;
    const std::vector<uint8_t>& copy = retargeted.copies.at(0).file;
    const std::vector<uint8_t> banner = readBytes(dir.path("app.bmp"));
    const std::vector<uint8_t> de = readBytes(dir.path("app.exe.0407.mui")), en = readBytes(dir.path("app.exe.0409.mui"));
    // Member, bytes, the line --list gives for it.
    const struct {
        const char* member;
        std::vector<uint8_t> bytes;
        std::string listed;
    } files[] = {
        {"0VELMARK.001", dll, "\\Windows\\VELMARK.dll, " + std::to_string(dll.size()) + " bytes, flags 0x80000000 (shared)"},
        {"APP-VE~1.002", app, "\\Program Files\\App\\app-velmark.exe, " + std::to_string(app.size()) + " bytes, flags 0x00000000"},
        {"APP-VE~1.003", banner, "\\Program Files\\App\\app-velmark.bmp, " + std::to_string(banner.size()) + " bytes, flags 0x00000000"},
        {"zsppr955.004", copy, "\\Program Files\\App\\zsppr955.dll, " + std::to_string(copy.size()) + " bytes, flags 0x00000000"},
        {"APP-VE~1.005", de, "\\Program Files\\App\\app-velmark.exe.0407.mui, " + std::to_string(de.size()) + " bytes, flags 0x00000000"},
        {"APP-VE~1.006", en, "\\Program Files\\App\\app-velmark.exe.0409.mui, " + std::to_string(en.size()) + " bytes, flags 0x00000000"},
    };
    RunResult listing = runProgram({"cabextract", "-l", dir.path("app.cab")});
    EXPECT_TRUE(contains(listing.out, "APPVEL~1.000")) << listing.out;
    ASSERT_EQ(runProgram({"cabextract", "-q", "-d", dir.path("out"), dir.path("app.cab")}).exitCode, 0);
    std::string expected =
        "descriptor: APPVEL~1.000\napplication: app (VELMARK)\nprovider: app\nprocessor: 2577 (StrongARM)\n"
        "Windows CE: 4.10 or later\nunsupported platforms: none\nfolder 1: %CE2% (\\Windows)\n"
        "folder 2: %CE1%\\App (\\Program Files\\App)\n";
    for (size_t i = 0; i < std::size(files); ++i) {
        EXPECT_TRUE(contains(listing.out, files[i].member)) << listing.out;
        EXPECT_EQ(readBytes(dir.path(std::string("out/") + files[i].member)), files[i].bytes) << files[i].member;
        expected += "file " + std::to_string(i + 1) + ": " + files[i].listed + ", member " + files[i].member + "\n";
    }
    expected +=
        "registry key 1: HKEY_LOCAL_MACHINE\\MUI\n"
        "registry value 1: HKEY_LOCAL_MACHINE\\MUI\\Enable = DWORD 1 (0x00000001)\n"
        "registry value 2: HKEY_LOCAL_MACHINE\\MUI\\SysLang = string \"407\"\n"
        "shortcut 1: %CE11%\\app (VELMARK).lnk -> file 2 (\\Program Files\\App\\app-velmark.exe)\nsetup DLL: none\n";
    RunResult listed = runVelmark({"package", "--list", dir.path("app.cab")});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out, expected);
    EXPECT_TRUE(contains(made.out, expected)) << made.out;
}

TEST(PackageCommand, ListsACabAroundAHandWrittenDescriptor) {
    ScratchDir dir;
    std::vector<cab::CabinetMember> members = {{"BLKJAC~4.000", cabtest::handWrittenDescriptor(true).bytes},
                                               {"0VELMARK.002", {1, 2, 3}},
                                               {"0000demo.001", std::vector<uint8_t>(40000, 9)}};
    writeBytes(dir.path("demo.cab"), cab::writeCabinet(members));
    RunResult r = runVelmark({"package", "--list", dir.path("demo.cab")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "descriptor: BLKJAC~4.000\napplication: Demo\nprovider: Acme\nprocessor: 2577 (StrongARM)\n"
              "Windows CE: 4.10 or later\nunsupported platforms: \"HPC\"\nfolder 1: %CE1%\\Demo (\\Program Files\\Demo)\n"
              "folder 2: %CE2% (\\Windows)\n"
              "file 1: \\Program Files\\Demo\\demo.exe, 40000 bytes, flags 0x00000000, member 0000demo.001\n"
              "file 2: \\Windows\\VELMARK.dll, 3 bytes, flags 0x80000000 (shared), member 0VELMARK.002\n"
              "registry key 1: HKEY_LOCAL_MACHINE\\MUI\n"
              "registry value 1: HKEY_LOCAL_MACHINE\\MUI\\Enable = DWORD 1 (0x00000001)\n"
              "registry value 2: HKEY_LOCAL_MACHINE\\MUI\\SysLang = string \"407\"\n"
              "shortcut 1: %CE11%\\Demo.lnk -> file 1 (\\Program Files\\Demo\\demo.exe)\nsetup DLL: none\n");
}

TEST(PackageCommand, RefusesWrongRequestsAndDamagedCabs) {
    ScratchDir dir;
    writeInputs(dir);
    writeBytes(dir.path("cut.cab"), {'M', 'S', 'C', 'F', 0, 0});
    const std::string app = dir.path("app.exe"), cab = dir.path("app.cab");
    // A module of another build of the application, and the application itself as a module.
    TestImagePlan other = typicalApplication();
    other.resources = bench::sampleResources({20, 1, 1});
    writeBytes(dir.path("other.exe.0407.mui"), languageModuleOf(buildTestImage(other), 0x0407));
    writeBytes(dir.path("self.exe.0407.mui"), readBytes(dir.path("app.exe")));
    const std::string mui = dir.path("app.exe.0407.mui");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
    } cases[] = {
        {{app, "--install-dir", "\\App", "-o", cab, "--mui", mui}, 2, "--mui requires --syslang"},
        {{app, "--install-dir", "\\App", "-o", cab, "--mui", mui, "--syslang", "409"}, 2,
         "--syslang \"409\": VELMARK.dll would load \\App\\app-velmark.exe.0409.mui, which is none of the --mui modules"},
        {{app, "--install-dir", "\\App", "-o", cab, "--mui", mui, "--syslang", "de"}, 2, "in decimal digits"},
        {{app, "--install-dir", "\\App", "-o", cab, "--mui", dir.path("app.bmp"), "--syslang", "407"}, 2,
         "app.bmp: the name does not end in .NUMBER.mui"},
        {{app, "--install-dir", "\\App", "-o", cab, "--mui", dir.path("other.exe.0407.mui"), "--syslang", "407"}, 1,
         "other.exe.0407.mui: built for another build of " + app},
        {{app, "--install-dir", "\\App", "-o", cab, "--mui", dir.path("self.exe.0407.mui"), "--syslang", "407"}, 2,
         "self.exe.0407.mui: not a language module: it is not a DLL"},
        {{app, "--install-dir", "Program Files\\App", "-o", cab}, 2, "a folder on the device starts with a backslash"},
        {{dir.path("app.bmp"), "--install-dir", "\\App", "-o", cab}, 2, "app.bmp: not a PE image"},
        {{app, "--install-dir", "\\App"}, 2, "-o are needed"},
        {{app, "--install-dir", "\\App", "-o", app}, 2, app + ": is the same file as the input " + app},
        {{"--list", dir.path("cut.cab")}, 2, "cut.cab: offset 0x0: the 36-byte cabinet header runs past the end"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"package"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult r = runVelmark(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.message << "\n" << r.err;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    }
    EXPECT_FALSE(fileExists(cab));
}

}  // namespace
