// `velmark mui-name` on the worked examples of the name rule, and the cases
// where the module loads no language module at all: the real VELMARK.dll
// chooses on the emulated device.
#include "tests/velmark/Subprocess.h"
#include "velmark/lib/MuiName.h"

#include <gtest/gtest.h>

namespace {

using namespace velmark::testing;

TEST(MuiNameCommand, PrintsTheNameForTheWorkedExamples) {
    struct Case {
        std::vector<std::string> syslang;  // empty: the option left out
        const char* name;
    };
    const std::vector<Case> cases = {
        {{}, "\\Windows\\app.exe.0409.mui"},
        {{"--syslang", "409"}, "\\Windows\\app.exe.0409.mui"},
        {{"--syslang", "407"}, "\\Windows\\app.exe.0407.mui"},
        {{"--syslang", "0411"}, "\\Windows\\app.exe.0411.mui"},
        {{"--syslang", "1033"}, "\\Windows\\app.exe.1033.mui"},
        {{"--syslang", "40C"}, "\\Windows\\app.exe.0040.mui"},
        {{"--syslang", ""}, "\\Windows\\app.exe.0000.mui"},
        {{"--syslang", " -7x"}, "\\Windows\\app.exe.-007.mui"},
        {{"--syslang", "123456"}, "\\Windows\\app.exe.123456.mui"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"mui-name", "--exe", "\\Windows\\app.exe"};
        args.insert(args.end(), c.syslang.begin(), c.syslang.end());
        RunResult r = runVelmark(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, std::string(c.name) + "\n");
        EXPECT_EQ(r.err, "");
    }
}

TEST(MuiNameCommand, KeepsNonAsciiPathsIntact) {
    RunResult r = runVelmark({"mui-name", "--exe", "\\Programme\\Übersicht\\Ärzte.exe", "--syslang", "407"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "\\Programme\\Übersicht\\Ärzte.exe.0407.mui\n");
}

TEST(MuiNameCommand, SaysNoneAndWhyWhenNoModuleIsLoaded) {
    // ".0409.mui" adds 9 units: a 250-unit path makes 259, the most that fits.
    RunResult fits = runVelmark({"mui-name", "--exe", std::string(250, 'p')});
    EXPECT_EQ(fits.exitCode, 0);
    EXPECT_EQ(fits.out.size(), 259u + 1);

    RunResult tooLong = runVelmark({"mui-name", "--exe", std::string(251, 'p')});
    EXPECT_EQ(tooLong.exitCode, 1);
    EXPECT_EQ(tooLong.out, "");
    EXPECT_EQ(tooLong.err,
              "velmark mui-name: none: the name would be longer than the 259 characters the module's path buffer holds\n");

    RunResult hugePath = runVelmark({"mui-name", "--exe", std::string(300, 'p')});
    EXPECT_EQ(hugePath.exitCode, 1);
    EXPECT_EQ(hugePath.out, "");
    EXPECT_EQ(hugePath.err, "velmark mui-name: none: the host path has 300 characters; the module's path buffer holds at most 259\n");

    RunResult empty = runVelmark({"mui-name", "--exe", ""});
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_EQ(empty.out, "");
    EXPECT_EQ(empty.err, "velmark mui-name: none: an empty host path names no language module\n");
}

TEST(MuiNameCommand, ASysLangTooLongForTheModuleFallsBackTo409) {
    // 15 characters are read; 16 make the registry query fail.
    RunResult fifteen = runVelmark({"mui-name", "--exe", "\\app.exe", "--syslang", "000000000001031"});
    EXPECT_EQ(fifteen.out, "\\app.exe.1031.mui\n");
    RunResult sixteen = runVelmark({"mui-name", "--exe", "\\app.exe", "--syslang", "0000000000001031"});
    EXPECT_EQ(sixteen.exitCode, 0);
    EXPECT_EQ(sixteen.out, "\\app.exe.0409.mui\n");
    EXPECT_NE(sixteen.err.find("note: a SysLang of 16 characters is longer than the 15 the module reads"),
              std::string::npos)
        << sixteen.err;
}

TEST(MuiNameCommand, RefusesBadUsage) {
    EXPECT_EQ(runVelmark({"mui-name"}).exitCode, 2);
    EXPECT_EQ(runVelmark({"mui-name", "--exe", "\xff\xfe"}).exitCode, 2);
    EXPECT_EQ(runVelmark({"mui-name", "--exe", "a", "--syslang"}).exitCode, 2);
}

}  // namespace
