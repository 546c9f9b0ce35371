// The README's numbered procedure, run as written: every shell block of the
// section "From a fresh PC to a running device", in order, in a folder
// holding an ARMV4I application with a bitmap 284 and a banner file. The
// build block is left out: this test runs inside the build it makes.
#include "PeImage.h"
#include "Subprocess.h"
#include "TestImage.h"
#include "bench/bitmapFiles.h"

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

TEST(ReadmeProcedure, EveryStepOnThePcRunsAsWritten) {
    const std::string readme = readText(README_PATH);
    std::vector<std::string> blocks = shellBlocks(readme, "### From a fresh PC to a running device");
    ASSERT_GE(blocks.size(), 5u);
    ASSERT_NE(blocks.front().find("scripts/build"), std::string::npos) << blocks.front();
    blocks.erase(blocks.begin());

    ScratchDir dir;
    BitmapFileShape bitmap;
    bitmap.width = 40;
    bitmap.height = 20;
    const std::vector<uint8_t> bitmapFile = makeBitmapFile(bitmap);
    TestImagePlan plan = typicalApplication();
    plan.machine = 0x1C2;
    plan.bitmap284.assign(bitmapFile.begin() + 14, bitmapFile.end());
    writeBytes(dir.path("app.exe"), buildTestImage(plan));
    writeBytes(dir.path("app.bmp"), bitmapFile);

    const std::string commandDir = std::filesystem::path(VELMARK_COMMAND).parent_path().string();
    for (const std::string& block : blocks) {
        RunResult r = runProgram({"/bin/sh", "-ec", "cd \"$0\" && PATH=\"$1:$PATH\" && " + block, dir.path(""),
                                  commandDir});
        EXPECT_EQ(r.exitCode, 0) << block << r.out << r.err;
        if (block.find("mui-name") != std::string::npos) {
            EXPECT_NE(readme.find("prints `" + r.out.substr(0, r.out.size() - 1) + "`"), std::string::npos) << r.out;
        }
    }
    EXPECT_EQ(pe::readImageFile(dir.path("retargeted/app.exe")).imports[0].dllName, "VELMARK.dll");
    EXPECT_TRUE(fileExists(dir.path("banner.png")));
}

}  // namespace
