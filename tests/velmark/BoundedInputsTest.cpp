// Inputs whose sizes are out of all proportion to their files: a million-
// pixel-wide host bitmap in a tiny PNG (which must preview in moments; the
// benchmark times it), and an image whose 200,000 import
// entries all point at one 200,000-character name. Each command must finish
// within a memory limit of a small multiple of such a file.
#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeImage.h"
#include "tests/velmark/Subprocess.h"
#include "tests/support/TestImage.h"
#include "velmark/lib/Picture.h"

#include <gtest/gtest.h>

namespace {

using namespace velmark::testing;

// The command under an address-space limit (in KB), as the shell sets it.
RunResult runVelmarkLimited(size_t kilobytes, const std::vector<std::string>& args) {
    std::string command = "ulimit -v " + std::to_string(kilobytes) + " && exec \"$0\" \"$@\"";
    std::vector<std::string> argv = {"/bin/sh", "-c", command, VELMARK_COMMAND};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv);
}

// What the command itself needs, libraries and the emulator included.
constexpr size_t kBaseKilobytes = 300 * 1024;

TEST(BoundedInputs, OneLongNameSharedByEveryImportEntryIsReadOnce) {
    ScratchDir dir;
    TestImagePlan plan = typicalApplication();
    plan.libraries[0].imports.push_back(TestImport::named(std::string(200000, 'n'), 200000));
    const std::vector<uint8_t> image = buildTestImage(plan);
    const std::string app = dir.path("app.exe");
    writeBytes(app, image);
    const size_t limit = kBaseKilobytes + 8 * image.size() / 1024;

    RunResult inspect = runVelmarkLimited(limit, {"inspect", app});
    EXPECT_EQ(inspect.exitCode, 0) << inspect.err;
    EXPECT_TRUE(contains(inspect.out, "COREDLL.dll: 200005 (3 by ordinal, 200002 by name)")) << inspect.out;

    // Retarget and check refuse it (VELMARK has no such export), naming the
    // file and a few of the entries, the long name cut short.
    for (const char* command : {"retarget", "check"}) {
        RunResult r = runVelmarkLimited(limit, {command, app});
        EXPECT_EQ(r.exitCode, 1) << command;
        EXPECT_TRUE(contains(r.err, app + ": ")) << r.err.substr(0, 400);
        EXPECT_TRUE(contains(r.err, "nnn... (200000 bytes)\"\n")) << r.err.substr(0, 400);
        EXPECT_TRUE(contains(r.err, "... and 199900 more")) << r.err.substr(r.err.size() - 200);
    }
}

// Names read once are shared by position: entries pointing into the same
// bytes at different places, in either order, each get their own tail.
TEST(BoundedInputs, EntriesPointingIntoOneNameAtDifferentPlacesReadTheirOwnTails) {
    std::vector<uint8_t> file = buildTestImage(typicalApplication());
    pe::Image image = pe::readImage(file);
    const uint32_t lookup = image.imports[0].lookupTableRva;
    const uint32_t hintName = image.read32(lookup + 4);  // wsprintfW
    pe::storeLe32(file.data() + image.fileOffsetAt(lookup + 4, 4), hintName + 2);
    pe::storeLe32(file.data() + image.fileOffsetAt(lookup + 12, 4), hintName);
    pe::Image shared = pe::readImage(file);
    EXPECT_EQ(shared.imports[0].entries[1].name, "printfW");
    EXPECT_EQ(shared.imports[0].entries[3].name, "wsprintfW");
}

TEST(BoundedInputs, AMillionPixelWideHostBitmapPreviewsQuickly) {
    ScratchDir dir;
    velmark::cli::Picture wide{1000000, 1, std::vector<uint32_t>(1000000, 0x336699)};
    velmark::cli::writePng(dir.path("wide.png"), wide);
    // Not under a limit: the emulator reserves its translation buffer up front.
    RunResult r = runVelmark({"banner-preview", "--exe-bitmap", dir.path("wide.png"), "-o", dir.path("b.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Scaled to 407 pixels high, each half is far wider than the banner.
    velmark::cli::Picture banner = velmark::cli::readPicture(dir.path("b.png"));
    EXPECT_EQ(banner.pixels.front(), 0x336699u);
    EXPECT_EQ(banner.pixels.back(), 0x336699u);
}

}  // namespace
