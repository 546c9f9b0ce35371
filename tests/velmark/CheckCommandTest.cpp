// Looking before changing: `velmark check` on applications that are ready,
// retargeted, foreign or VELMARK itself, ARMV4I ones included; names from a
// file reach the terminal escaped; banner files that will not be drawn are
// named with the reason; bitmap 284 comes straight from the application.
#include "tests/support/bitmapFiles.h"
#include "tests/velmark/Subprocess.h"
#include "tests/support/TestImage.h"
#include "velmark/lib/Picture.h"

#include <gtest/gtest.h>

namespace {

using namespace velmark::testing;

TEST(CheckCommand, SaysReadyRetargetedOrWhyNotAndWritesNothing) {
    ScratchDir dir;
    TestImagePlan armv4i = typicalApplication();
    armv4i.machine = 0x1C2;
    const std::string app = dir.path("app.exe");
    writeBytes(app, buildTestImage(armv4i));

    RunResult ready = runVelmark({"check", app});
    EXPECT_EQ(ready.exitCode, 0) << ready.err;
    EXPECT_TRUE(contains(ready.out, app + ": ARMV4I (0x1C2), Windows CE GUI (9), executable\n")) << ready.out;
    EXPECT_TRUE(contains(ready.out, app + ": ready to retarget: all 5 COREDLL imports")) << ready.out;
    RunResult inspect = runVelmark({"inspect", app});
    EXPECT_TRUE(contains(inspect.out, "machine ARMV4I (0x1C2)")) << inspect.out;

    ASSERT_EQ(runVelmark({"retarget", "--in-place", app}).exitCode, 0);
    RunResult retargeted = runVelmark({"check", app});
    EXPECT_EQ(retargeted.exitCode, 0) << retargeted.err;
    EXPECT_TRUE(contains(retargeted.out, "already retargeted: its 5 imports come from VELMARK.dll")) << retargeted.out;

    RunResult velmark = runVelmark({"check", VELMARK_DLL});
    EXPECT_EQ(velmark.exitCode, 1);
    EXPECT_TRUE(contains(velmark.err, "cannot be retargeted: it is VELMARK.dll itself")) << velmark.err;

    // A control character in a DLL name is shown escaped, never raw.
    TestImagePlan odd = typicalApplication();
    odd.libraries[1].dllName = "WIN\x1b[2JSOCK.dll";
    odd.libraries[0].imports.push_back(TestImport::named("Bell\x07"));
    writeBytes(dir.path("odd.exe"), buildTestImage(odd));
    RunResult r = runVelmark({"check", dir.path("odd.exe")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "\n  name \"Bell\\x07\"\n")) << r.err;
    RunResult summary = runVelmark({"inspect", dir.path("odd.exe")});
    EXPECT_TRUE(contains(summary.out, "WIN\\x1B[2JSOCK.dll: 2")) << summary.out;
    for (const std::string& text : {r.out, r.err, summary.out, summary.err})
        EXPECT_EQ(text.find_first_of("\x07\x1b"), std::string::npos);
    EXPECT_FALSE(fileExists(dir.path("retargeted")));
}

TEST(BannerChecks, AFileThatWillNotBeDrawnIsNamedWithTheReasonAndTopDownIsWarnedOf) {
    ScratchDir dir;
    BitmapFileShape eightBit;
    eightBit.bitCount = 8;
    BitmapFileShape topDown;
    topDown.height = -2;
    writeBytes(dir.path("eight.bmp"), makeBitmapFile(eightBit));
    writeBytes(dir.path("top.bmp"), makeBitmapFile(topDown));

    RunResult r = runVelmark({"banner-check", dir.path("eight.bmp")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, dir.path("eight.bmp") + ": will not be drawn: it has 8 bits per pixel")) << r.err;
    r = runVelmark({"banner-preview", "--banner-file", dir.path("eight.bmp"), "-o", dir.path("b.png")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "eight.bmp: will not be drawn: it has 8 bits per pixel")) << r.err;

    r = runVelmark({"banner-check", dir.path("top.bmp")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "will be drawn (4 x 2, 24 bits per pixel, top-down)")) << r.out;
    EXPECT_TRUE(contains(r.err, "warning: the file is top-down")) << r.err;
}

TEST(BannerChecks, BannerPreviewTakesBitmap284FromTheApplication) {
    ScratchDir dir;
    BitmapFileShape shape;
    shape.width = 6;
    shape.height = 3;
    const std::vector<uint8_t> file = makeBitmapFile(shape);
    TestImagePlan plan = typicalApplication();
    plan.bitmap284.assign(file.begin() + 14, file.end());
    writeBytes(dir.path("app.exe"), buildTestImage(plan));
    writeBytes(dir.path("bitmap284.bmp"), file);

    RunResult fromExe = runVelmark({"banner-preview", "--exe", dir.path("app.exe"), "-o", dir.path("a.png")});
    ASSERT_EQ(fromExe.exitCode, 0) << fromExe.err;
    RunResult fromFile =
        runVelmark({"banner-preview", "--exe-bitmap", dir.path("bitmap284.bmp"), "-o", dir.path("b.png")});
    ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;
    EXPECT_EQ(velmark::cli::readPicture(dir.path("a.png")).pixels, velmark::cli::readPicture(dir.path("b.png")).pixels);

    writeBytes(dir.path("plain.exe"), buildTestImage(typicalApplication()));
    RunResult none = runVelmark({"banner-preview", "--exe", dir.path("plain.exe"), "-o", dir.path("c.png")});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_TRUE(contains(none.err, dir.path("plain.exe") + ": has no bitmap resource 284")) << none.err;
}

}  // namespace
