// The fake COREDLL's registry, modules, text, errors, scripting and fault
// injection, called through its trap addresses as the module would call them.
#include "emulator/Bench.h"

#include <gtest/gtest.h>

#include "tests/bench/fakeCalls.h"

namespace benchtest {
namespace {

using bench::Bench;
using bench::CallResult;
using bench::Placement;

TEST(FakeRegistry, QueriesCopyAtMostTheGivenCountAndReportTheSize) {
    Bench bench;
    bench::Registry& registry = bench.fake().registry();
    registry.setDword(u"MUI", u"Enable", 1);
    registry.setString(u"MUI", u"SysLang", u"0411");  // 10 bytes with its terminator

    uint32_t keyOut = bench.allocate(4, Placement::atEnd(1));
    uint32_t mui = bench.placeWString(u"mui");
    ASSERT_EQ(callOk(bench, "RegOpenKeyExW", {bench::HKEY_LOCAL_MACHINE, mui, 0, 0xF003F, keyOut}), 0u);
    uint32_t key = bench.memory().read32(keyOut);
    EXPECT_EQ(registry.opens().back().access, 0xF003Fu);
    EXPECT_TRUE(bench.handles().isOpen(key, bench::HandleKind::RegistryKey));

    uint32_t data = bench.allocate(4, Placement::exactEnd());
    uint32_t count = bench.allocate(4, Placement::atEnd(2));
    uint32_t enable = bench.placeWString(u"Enable"), sysLang = bench.placeWString(u"SysLang");
    bench.memory().write32(count, 4);
    EXPECT_EQ(callOk(bench, "RegQueryValueExW", {key, enable, 0, 0, data, count}), 0u);
    EXPECT_EQ(bench.memory().read32(data), 1u);

    bench.memory().write32(data, 0xEEEEEEEE);
    bench.memory().write32(count, 4);
    EXPECT_EQ(callOk(bench, "RegQueryValueExW", {key, sysLang, 0, 0, data, count}), bench::ERROR_MORE_DATA);
    EXPECT_EQ(bench.memory().read32(count), 10u);
    EXPECT_EQ(bench.memory().read32(data), 0xEEEEEEEEu) << "a value too large must not be copied in part";

    uint32_t absent = bench.placeWString(u"Absent");
    EXPECT_EQ(callOk(bench, "RegQueryValueExW", {key, absent, 0, 0, data, count}), bench::ERROR_FILE_NOT_FOUND);
    uint32_t missingKey = bench.placeWString(u"NoSuchKey");
    EXPECT_EQ(callOk(bench, "RegOpenKeyExW", {bench::HKEY_LOCAL_MACHINE, missingKey, 0, 0, keyOut}),
              bench::ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(callOk(bench, "RegCloseKey", {key}), 0u);
    EXPECT_EQ(callOk(bench, "RegCloseKey", {key}), bench::ERROR_INVALID_HANDLE);
    EXPECT_TRUE(bench.handles().open(bench::HandleKind::RegistryKey).empty());
}

TEST(FakeModules, DescribeTheHostAndLoadOnlyFilesThatExist) {
    Bench bench;
    bench::Modules& modules = bench.fake().modules();
    EXPECT_EQ(callOk(bench, "GetModuleHandleW", {0}), modules.hostHandle());
    uint32_t buffer = bench.allocate(2 * 260, Placement::atEnd(1));
    uint32_t length = callOk(bench, "GetModuleFileNameW", {0, buffer, 260});
    EXPECT_EQ(bench.memory().readWString(buffer), modules.hostPath());
    EXPECT_EQ(length, modules.hostPath().size());

    uint32_t name = bench.placeWString(u"\\Windows\\app.exe.0409.mui");
    EXPECT_EQ(callOk(bench, "LoadLibraryW", {name}), 0u);
    EXPECT_EQ(bench.fake().errors().get(bench::FakeCoredll::kMainThread), bench::ERROR_MOD_NOT_FOUND);

    bench.fake().files().add(u"\\Windows\\APP.EXE.0409.MUI", {0x4D, 0x5A});
    uint32_t handle = callOk(bench, "LoadLibraryW", {name});
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(callOk(bench, "LoadLibraryW", {name}), handle);
    EXPECT_EQ(callOk(bench, "FreeLibrary", {handle}), 1u);
    EXPECT_TRUE(bench.handles().isOpen(handle, bench::HandleKind::Module)) << "one reference is left";
    EXPECT_EQ(callOk(bench, "FreeLibrary", {handle}), 1u);
    EXPECT_EQ(modules.freeCount(handle), 2u);
    EXPECT_FALSE(bench.handles().isOpen(handle, bench::HandleKind::Module));
    EXPECT_EQ(callOk(bench, "FreeLibrary", {handle}), 0u);
}

TEST(FakeText, ParsesAndFormatsAsTheModuleRelies) {
    Bench bench;
    EXPECT_EQ(int32_t(callOk(bench, "_wtol", {bench.placeWString(u" \t-40C")})), -40);
    EXPECT_EQ(callOk(bench, "_wtol", {bench.placeWString(u"0411")}), 411u);
    EXPECT_EQ(callOk(bench, "_wtol", {bench.placeWString(u"")}), 0u);

    uint32_t out = bench.allocate(2 * 260);
    uint32_t format = bench.placeWString(u"%s.%04d.mui");
    uint32_t path = bench.placeWString(u"\\Windows\\app.exe");
    EXPECT_EQ(callOk(bench, "wsprintfW", {out, format, path, 40}), 25u);
    EXPECT_EQ(bench.memory().readWString(out), u"\\Windows\\app.exe.0040.mui");
    EXPECT_EQ(callOk(bench, "wsprintfW", {out, format, path, 12345}), 26u);
    EXPECT_EQ(bench.memory().readWString(out), u"\\Windows\\app.exe.12345.mui");
    // Arguments past the fourth come from the stack.
    uint32_t many = bench.placeWString(u"%d,%d,%x,%-3d|%5s|");
    uint32_t ab = bench.placeWString(u"ab");
    callOk(bench, "wsprintfW", {out, many, uint32_t(-7), 8, 0xBEEF, 5, ab});
    EXPECT_EQ(bench.memory().readWString(out), u"-7,8,beef,5  |   ab|");

    uint32_t from = bench.placeBytes({1, 2, 3, 4, 5}, Placement::atEnd(3));
    uint32_t to = bench.allocate(8, Placement::atEnd(1));
    EXPECT_EQ(callOk(bench, "memcpy", {to, from, 5}), to);
    EXPECT_EQ(bench.memory().readBytes(to, 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(callOk(bench, "memset", {to, 0x1AB, 3}), to);
    EXPECT_EQ(bench.memory().readBytes(to, 5), (std::vector<uint8_t>{0xAB, 0xAB, 0xAB, 4, 5}));
    // Beyond the source's guard page: the call faults.
    EXPECT_FALSE(bench.callCoredll("memcpy", {to, from, 6}).ok());
}

TEST(FakeErrors, TheLastErrorBelongsToTheThread) {
    Bench bench;
    callOk(bench, "SetLastError", {31});
    EXPECT_EQ(callOk(bench, "GetLastError", {}), 31u);
    bench.fake().setThread(bench::FakeCoredll::kCallbackThread);
    EXPECT_EQ(callOk(bench, "GetLastError", {}), 0u);
    callOk(bench, "SetLastError", {99});
    bench.fake().setThread(bench::FakeCoredll::kMainThread);
    EXPECT_EQ(callOk(bench, "GetLastError", {}), 31u);
}

TEST(FakeScripting, FailsTheNthCallAndLogsEveryCall) {
    Bench bench;
    bench.fake().files().add(u"\\Windows\\lib.dll", {});
    uint32_t name = bench.placeWString(u"\\Windows\\lib.dll");
    bench.fake().failOnCall("LoadLibraryW", 2);
    uint32_t first = callOk(bench, "LoadLibraryW", {name});
    EXPECT_NE(first, 0u);
    EXPECT_EQ(callOk(bench, "LoadLibraryW", {name}), 0u);
    EXPECT_EQ(bench.fake().errors().get(bench::FakeCoredll::kMainThread), bench::ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(callOk(bench, "LoadLibraryW", {name}), first);

    std::vector<bench::LoggedCall> calls = bench.fake().callsTo("LoadLibraryW");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_FALSE(calls[0].injected);
    EXPECT_TRUE(calls[1].injected);
    EXPECT_EQ(calls[1].args, std::vector<uint32_t>{name});
    EXPECT_EQ(calls[2].result, first);

    // A scripted outcome can let the function run and replace only its result.
    bench.fake().scriptNext("LoadLibraryW", bench::Outcome::returns(0).withLastError(8).afterRunning());
    EXPECT_EQ(callOk(bench, "LoadLibraryW", {name}), 0u);
    EXPECT_EQ(bench.fake().modules().loaded().at(first).second, 3u) << "the load itself happened";
}

TEST(FakeScripting, RecordersLogStackArgumentsAndReturnTheScript) {
    Bench bench;
    bench.fake().scriptAlways("lineDial", bench::Outcome::returns(0x5150).withLastError(12));
    CallResult result = bench.callCoredll("lineDial", {1, 2, 3, 4, 5, 6});
    ASSERT_TRUE(result.ok()) << result.describe();
    EXPECT_EQ(result.r0, 0x5150u);
    const bench::LoggedCall& call = bench.fake().calls().back();
    EXPECT_EQ(call.name, "lineDial");
    EXPECT_EQ(std::vector<uint32_t>(call.args.begin(), call.args.begin() + 6),
              (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(call.lastError, 12u);
}

TEST(HandleLedger, ListsWhatWasAcquiredAfterAMark) {
    Bench bench;
    uint32_t before = callOk(bench, "GetDC", {0});
    bench::HandleLedger::Mark mark = bench.handles().mark();
    uint32_t dc = callOk(bench, "CreateCompatibleDC", {before});
    uint32_t bitmap = callOk(bench, "CreateCompatibleBitmap", {before, 4, 4});
    std::vector<bench::OpenHandle> open = bench.handles().openSince(mark);
    ASSERT_EQ(open.size(), 2u) << bench::HandleLedger::describe(open);
    callOk(bench, "DeleteDC", {dc});
    callOk(bench, "DeleteObject", {bitmap});
    EXPECT_TRUE(bench.handles().openSince(mark).empty());
    EXPECT_EQ(bench.handles().open().size(), 1u);
}

}  // namespace
}  // namespace benchtest
