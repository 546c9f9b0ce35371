// The files the commands are given and write: outputs that are devices or
// links or have long names, undo after an in-place retarget, empty names,
// and export tables that are directories or empty.
#include "tests/velmark/Subprocess.h"
#include "tests/support/TestImage.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

using namespace velmark::testing;
namespace fs = std::filesystem;

class FilesGivenAndWritten : public ::testing::Test {
protected:
    ScratchDir dir;
    std::string app = dir.path("app.exe");
    std::vector<uint8_t> original = buildTestImage(typicalApplication());

    void SetUp() override { writeBytes(app, original); }
};

TEST_F(FilesGivenAndWritten, ADeviceIsWrittenThroughAndALinkIsFollowedToItsTarget) {
    // A null device of our own, so that nothing outside the scratch
    // directory is at stake.
    const std::string null = dir.path("null");
    if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) GTEST_SKIP() << "cannot make a device node here";
    RunResult r = runVelmark({"retarget", app, "-o", null});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_character_file(null));

    const std::string real = dir.path("real.exe"), link = dir.path("link.exe");
    writeBytes(real, original);
    fs::create_symlink("real.exe", link);
    r = runVelmark({"retarget", "--in-place", link});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_NE(readBytes(real), original);
    EXPECT_EQ(readBytes(link + ".bak"), original);
    ASSERT_EQ(runVelmark({"retarget", "--undo", "--in-place", link}).exitCode, 0);
    EXPECT_EQ(readBytes(real), original);

    // The PO template goes the same way as the images.
    fs::create_symlink("real.pot", dir.path("link.pot"));
    r = runVelmark({"mui", "extract", app, "-o", dir.path("link.pot")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir.path("link.pot")));
    const std::vector<uint8_t> pot = readBytes(dir.path("real.pot"));
    EXPECT_TRUE(contains(std::string(pot.begin(), pot.end()), "msgid"));
}

TEST_F(FilesGivenAndWritten, OutputNamesUpToTheLongestAFileSystemTakesWork) {
    for (size_t length : {244u, 255u}) {
        const std::string out = dir.path(std::string(length - 4, 'n') + ".exe");
        RunResult r = runVelmark({"retarget", app, "-o", out});
        EXPECT_EQ(r.exitCode, 0) << length << ": " << r.err;
        EXPECT_TRUE(fileExists(out)) << length;
    }
    RunResult empty = runVelmark({"retarget", app, "-o", ""});
    EXPECT_EQ(empty.exitCode, 2);
    EXPECT_TRUE(contains(empty.err, "-o: the output file name is empty")) << empty.err;
}

TEST_F(FilesGivenAndWritten, AnExportTableThatIsADirectoryOrEmptyIsRefusedByName) {
    const std::string empty = dir.path("empty.exports");
    writeBytes(empty, {});
    const std::vector<std::pair<std::string, std::string>> tables = {
        {dir.path(""), ": cannot be read: it is a directory"},
        {empty, ": not a usable export table: it has no export rows"}};
    for (const auto& [table, why] : tables) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"retarget", app, "--table", table},
              {"check", app, "--table", table},
              {"banner-preview", "-o", dir.path("b.png"), "--table", table}}) {
            RunResult r = runVelmark(args);
            EXPECT_EQ(r.exitCode, 2) << args[0] << " " << table;
            EXPECT_TRUE(contains(r.err, table + why)) << r.err;
        }
    }
    EXPECT_FALSE(fileExists(dir.path("retargeted")));
    EXPECT_FALSE(fileExists(dir.path("b.png")));
}

}  // namespace
