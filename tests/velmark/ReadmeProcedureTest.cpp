// The README's numbered procedure, run as written: every shell block of the
// section "From a fresh PC to a running device", in order, in a folder
// holding an ARMV4I application with a bitmap 284 and a banner file. The
// build block is left out: this test runs inside the build it makes.
#include "formats/cab/InstallCabinet.h"
#include "formats/pe/PeImage.h"
#include "tests/support/bitmapFiles.h"
#include "tests/velmark/Subprocess.h"
#include "tests/support/TestImage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace velmark::testing;

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The ```sh blocks between `heading` and the next heading of its level,
// each line with the list's indentation taken off.
std::vector<std::string> shellBlocks(const std::string& markdown, const std::string& heading) {
    size_t start = markdown.find(heading);
    size_t end = markdown.find("\n### ", start + heading.size());
    std::istringstream in(markdown.substr(start, end - start));
    std::vector<std::string> blocks;
    bool inBlock = false;
    for (std::string line; std::getline(in, line);) {
        const std::string trimmed = line.substr(std::min(line.find_first_not_of(' '), line.size()));
        if (trimmed == "```sh") {
            inBlock = true;
            blocks.emplace_back();
        } else if (trimmed == "```") {
            inBlock = false;
        } else if (inBlock) {
            blocks.back() += trimmed + "\n";
        }
    }
    return blocks;
}

// A folder holding an ARMV4I application with a bitmap 284, its banner file
// and the MFC runtime it loads its resources through.
void writeApplication(const ScratchDir& dir) {
    BitmapFileShape bitmap;
    bitmap.width = 40;
    bitmap.height = 20;
    const std::vector<uint8_t> bitmapFile = makeBitmapFile(bitmap);
    TestImagePlan plan = typicalApplication();
    plan.machine = 0x1C2;
    plan.bitmap284.assign(bitmapFile.begin() + 14, bitmapFile.end());
    plan.libraries.push_back({"mfcce400.dll", {TestImport::named("LoadStringW")}});
    writeBytes(dir.path("app.exe"), buildTestImage(plan));
    TestImagePlan runtime;
    runtime.exportsThunksAs = "MFCCE400.DLL";
    runtime.libraries = {{"COREDLL.dll", {TestImport::named("LoadStringW"), TestImport::named("LoadMenuW")}}};
    writeBytes(dir.path("mfcce400.dll"), buildTestImage(runtime));
    writeBytes(dir.path("app.bmp"), bitmapFile);
}

// Runs each block in `dir` with `commandDir` first on the PATH, under
// `wrapper` (a command that runs the rest of its arguments).
void runBlocks(const std::vector<std::string>& blocks, const ScratchDir& dir, const std::string& commandDir,
               const std::vector<std::string>& wrapper, const std::string& readme) {
    for (const std::string& block : blocks) {
        std::vector<std::string> argv = wrapper;
        for (const std::string& arg : {std::string("/bin/sh"), std::string("-ec"),
                                       "cd \"$0\" && PATH=\"$1:$PATH\" && " + block, dir.path(""), commandDir})
            argv.push_back(arg);
        RunResult r = runProgram(argv);
        EXPECT_EQ(r.exitCode, 0) << block << r.out << r.err;
        if (block.find("mui-name") != std::string::npos) {
            EXPECT_NE(readme.find("prints `" + r.out.substr(0, r.out.size() - 1) + "`"), std::string::npos) << r.out;
        }
    }
    EXPECT_EQ(pe::readImageFile(dir.path("retargeted/app.exe")).imports[0].dllName, "VELMARK.dll");
    EXPECT_EQ(pe::readImageFile(dir.path("retargeted/zsppr955.dll")).imports[0].dllName, "VELMARK.dll");
    EXPECT_TRUE(fileExists(dir.path("banner.png")));
    const std::vector<uint8_t> package = readBytes(dir.path("app.cab"));
    const cab::InstallDescriptor installs = cab::readInstallCabinet(package.data(), package.size()).descriptor;
    EXPECT_EQ(installs.files.at(1).name, "app-velmark.exe");
    EXPECT_EQ(installs.files.at(3).name, "zsppr955.dll");
}

std::vector<std::string> procedureBlocks(const std::string& readme) {
    std::vector<std::string> blocks = shellBlocks(readme, "### From a fresh PC to a running device");
    EXPECT_GE(blocks.size(), 5u);
    EXPECT_NE(blocks.front().find("scripts/build"), std::string::npos) << blocks.front();
    blocks.erase(blocks.begin());
    return blocks;
}

TEST(ReadmeProcedure, EveryStepOnThePcRunsAsWritten) {
    const std::string readme = readText(README_PATH);
    ScratchDir dir;
    writeApplication(dir);
    runBlocks(procedureBlocks(readme), dir, std::filesystem::path(VELMARK_COMMAND).parent_path().string(), {},
              readme);
}

// Installed into a prefix that is then moved, and run with the build tree
// hidden (an empty folder mounted over it in a private mount namespace): the
// procedure and every other subcommand still work.
TEST(ReadmeProcedure, InstalledCommandNeedsNoBuildTree) {
    const std::vector<std::string> hidden = {"unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                                             "mount --bind \"$1\" \"$2\" && shift 2 && exec \"$@\"", "hide"};
    ScratchDir dir;
    std::filesystem::create_directory(dir.path("empty"));
    std::vector<std::string> hide = hidden;
    hide.push_back(dir.path("empty"));
    hide.push_back(BUILD_TREE);
    std::vector<std::string> probe = hide;
    probe.push_back("true");
    if (runProgram(probe).exitCode != 0) GTEST_SKIP() << "no private mount namespace here to hide the build tree in";

    RunResult installed = runProgram({CMAKE_PROGRAM, "--install", BUILD_TREE, "--prefix", dir.path("prefix")});
    ASSERT_EQ(installed.exitCode, 0) << installed.out << installed.err;
    std::filesystem::rename(dir.path("prefix"), dir.path("moved"));
    const std::string readme = readText(README_PATH);
    writeApplication(dir);
    std::vector<std::string> blocks = procedureBlocks(readme);
    blocks.push_back("velmark --version && velmark inspect moved/share/velmark/VELMARK.dll\n"
                     "velmark mui extract app.exe -o app.pot\n"
                     // The application has no text: the module is named by the installed image, then refused.
                     "velmark mui build app.exe app.pot --syslang 407 2>err || grep -q 'translates nothing' err\n");
    runBlocks(blocks, dir, dir.path("moved/bin"), hide, readme);
}

}  // namespace
