// File dialogs, the special-folder query and CheckMenuItem on the real image:
// what COREDLL receives, what the caller's records hold afterwards, and that
// COREDLL's result and last-error value reach the caller unchanged.
#include "emulator/Bench.h"

#include <gtest/gtest.h>

namespace devicetest {
namespace {

using bench::Bench;
using bench::LoggedCall;
using bench::Outcome;
using bench::Placement;

constexpr uint32_t kOfnSize = 76;
constexpr uint32_t kFlags = 52;
constexpr uint32_t kTemplateBits = 0x40 | 0x80;

class ShellFixture : public ::testing::Test {
protected:
    void SetUp() override {
        bench.load(VELMARK_DLL_PATH);
        bench.fake().clearLog();
    }
    uint32_t lastError() { return bench.fake().errors().get(bench.fake().thread()); }
    void setLastError(uint32_t value) { bench.fake().errors().set(bench.fake().thread(), value); }
    // The one COREDLL call the override made; fails the test if there were others.
    LoggedCall onlyCall(const std::string& name) {
        const std::vector<LoggedCall>& calls = bench.fake().calls();
        EXPECT_EQ(calls.size(), 1u) << "COREDLL calls made: " << describe(calls);
        for (const LoggedCall& c : calls)
            if (c.name == name) return c;
        ADD_FAILURE() << "COREDLL's " << name << " was not called";
        return {};
    }
    static std::string describe(const std::vector<LoggedCall>& calls) {
        std::string s;
        for (const LoggedCall& c : calls) s += c.name + " ";
        return s;
    }

    Bench bench;
};

// --- File dialogs ------------------------------------------------------------

struct Dialog {
    const char* name;
    bool save;
};
constexpr Dialog kDialogs[] = {{"GetOpenFileNameW", false}, {"GetSaveFileNameW", true}};

// A record of `size` bytes, every byte distinct-ish, with the given size and flags fields.
std::vector<uint8_t> dialogRecord(uint32_t size, uint32_t structSize, uint32_t flags) {
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = uint8_t(0x91 + 3 * i);
    for (int i = 0; i < 4; ++i) {
        bytes[i] = uint8_t(structSize >> (8 * i));
        if (size >= kFlags + 4) bytes[kFlags + i] = uint8_t(flags >> (8 * i));
    }
    return bytes;
}

std::vector<uint8_t> withFlags(std::vector<uint8_t> bytes, uint32_t flags) {
    for (int i = 0; i < 4; ++i) bytes[kFlags + i] = uint8_t(flags >> (8 * i));
    return bytes;
}

class FileDialogs : public ShellFixture {};

// A record of the known size loses the two template bits, in COREDLL's view
// and in the caller's record afterwards; every other byte is kept. Records
// at every alignment, ending right at a guard page.
TEST_F(FileDialogs, TheTemplateBitsAreClearedInTheCallersRecord) {
    const std::pair<uint32_t, uint32_t> flagCases[] = {
        {0xFFFFFFFF, 0xFFFFFF3F}, {0x000000C0, 0}, {0x00000040, 0}, {0x00000080, 0},
        {0x00080021, 0x00080021}, {0x00000000, 0}, {0x4040C0C0, 0x4040C000}, {0x800000BF, 0x8000003F},
    };
    for (const Dialog& dialog : kDialogs) {
        for (auto [flags, expected] : flagCases) {
            for (uint32_t misalign : {0u, 1u, 2u, 3u}) {
                SCOPED_TRACE(std::string(dialog.name) + " flags " + bench::hex(flags) + " at +" +
                             std::to_string(misalign));
                std::vector<uint8_t> before = dialogRecord(kOfnSize, kOfnSize, flags);
                uint32_t record = bench.placeBytes(before, Placement::atEnd(misalign));
                bench.fake().clearLog();
                bench.fake().shell().setFileDialogAnswer(false);
                ASSERT_EQ(bench.call(dialog.name, {record}), 0u);
                LoggedCall call = onlyCall(dialog.name);
                EXPECT_EQ(call.args, std::vector<uint32_t>{record});
                const bench::FileDialogCall& seen = bench.fake().shell().fileDialogs().back();
                EXPECT_EQ(seen.save, dialog.save);
                EXPECT_EQ(seen.bytes, withFlags(before, expected)) << "what COREDLL received";
                EXPECT_EQ(bench.memory().readBytes(record, kOfnSize), withFlags(before, expected))
                    << "the caller's record afterwards";
            }
        }
    }
}

// Any other size is a record whose layout is not known: not a byte changes,
// even with every flag bit set. 0x4C000000 is 76 read in the wrong byte order.
TEST_F(FileDialogs, ARecordOfAnyOtherSizeIsLeftUntouched) {
    const std::pair<uint32_t, uint32_t> sizes[] = {
        // (lStructSize, bytes placed)
        {88, 88}, {0, 88}, {75, 88}, {77, 88}, {76 + 256, 76 + 256}, {0x4C000000, 88},
    };
    for (const Dialog& dialog : kDialogs) {
        for (auto [structSize, placed] : sizes) {
            for (uint32_t misalign : {0u, 1u}) {
                SCOPED_TRACE(std::string(dialog.name) + " lStructSize " + bench::hex(structSize));
                std::vector<uint8_t> before = dialogRecord(placed, structSize, 0xFFFFFFFF);
                uint32_t record = bench.placeBytes(before, Placement::atEnd(misalign));
                bench.fake().clearLog();
                ASSERT_EQ(bench.call(dialog.name, {record}), 0u);
                EXPECT_EQ(onlyCall(dialog.name).args, std::vector<uint32_t>{record});
                const std::vector<uint8_t>& seen = bench.fake().shell().fileDialogs().back().bytes;
                EXPECT_TRUE(std::equal(seen.begin(), seen.end(), before.begin(), before.begin() + seen.size()))
                    << "COREDLL received a changed record";
                EXPECT_EQ(bench.memory().readBytes(record, placed), before) << "the caller's record changed";
            }
        }
    }
}

TEST_F(FileDialogs, ANullRecordIsPassedOn) {
    for (const Dialog& dialog : kDialogs) {
        bench.fake().clearLog();
        // COREDLL's answer for a null record, scripted (the fake's dialog would read it).
        bench.fake().scriptNext(dialog.name, Outcome::returns(0).withLastError(87));
        setLastError(0);
        EXPECT_EQ(bench.call(dialog.name, {0}), 0u) << dialog.name;
        EXPECT_EQ(onlyCall(dialog.name).args, std::vector<uint32_t>{0}) << dialog.name;
        EXPECT_EQ(lastError(), 87u) << dialog.name;
    }
}

// COREDLL's result and last-error value reach the caller as COREDLL left
// them, for a dialog that ran, one that was cancelled and one that failed.
TEST_F(FileDialogs, CoredllsResultAndLastErrorAreReturned) {
    struct Case {
        bool accepted;
        std::optional<Outcome> scripted;
        uint32_t lastErrorBefore, result, lastErrorAfter;
    };
    const Case cases[] = {
        {true, std::nullopt, 0x1234, 1, 0x1234},                                            // untouched
        {false, std::nullopt, 0x55, 0, 0x55},                                               // cancelled
        {false, Outcome::returns(0).withLastError(0x3002).afterRunning(), 0, 0, 0x3002},    // failed
        {true, Outcome::returns(7).withLastError(0).afterRunning(), 99, 7, 0},              // odd result
    };
    for (const Dialog& dialog : kDialogs) {
        for (const Case& c : cases) {
            SCOPED_TRACE(dialog.name);
            uint32_t file = bench.allocate(2 * 64, Placement::atEnd(1));
            bench.memory().writeWString(file, u"");
            std::vector<uint8_t> bytes = dialogRecord(kOfnSize, kOfnSize, 0x000000C4);
            for (int i = 0; i < 4; ++i) {
                bytes[28 + i] = uint8_t(file >> (8 * i));  // lpstrFile
                bytes[32 + i] = uint8_t(64 >> (8 * i));    // nMaxFile
            }
            uint32_t record = bench.placeBytes(bytes, Placement::atEnd(3));
            bench.fake().shell().setFileDialogAnswer(c.accepted, u"\\My Documents\\x.txt");
            if (c.scripted) bench.fake().scriptNext(dialog.name, *c.scripted);
            setLastError(c.lastErrorBefore);
            bench.fake().clearLog();
            EXPECT_EQ(bench.call(dialog.name, {record}), c.result);
            EXPECT_EQ(lastError(), c.lastErrorAfter);
            onlyCall(dialog.name);
            EXPECT_EQ(bench.memory().read32(record + kFlags), 0x00000004u);
            if (c.accepted) {
                EXPECT_EQ(bench.memory().readWString(file), u"\\My Documents\\x.txt");
            }
        }
    }
}

// --- Special folders -------------------------------------------------------------

class SpecialFolder : public ShellFixture {};

constexpr uint32_t CSIDL_PERSONAL = 0x05;
constexpr uint32_t kUnknownFolder = 0x77;

TEST_F(SpecialFolder, ANullBufferIsPassedOnAndNothingIsWritten) {
    setLastError(0x66);
    // Address 0 is unmapped: a write through it would fail the call.
    EXPECT_EQ(bench.call("SHGetSpecialFolderPath", {0x0C0FFEE4, 0, CSIDL_PERSONAL, 1}), 0u);
    EXPECT_EQ(onlyCall("SHGetSpecialFolderPath").args, (std::vector<uint32_t>{0x0C0FFEE4, 0, CSIDL_PERSONAL, 1}));
    ASSERT_EQ(bench.fake().shell().folderQueries().size(), 1u);
    EXPECT_FALSE(bench.fake().shell().folderQueries()[0].atEntry.has_value());
    EXPECT_EQ(lastError(), 0x66u);
}

// COREDLL finds an empty string in the buffer, at any alignment, and
// receives the four arguments as the caller gave them.
TEST_F(SpecialFolder, CoredllSeesAnEmptyStringAndTheCallersArguments) {
    struct Case {
        uint32_t owner, folder, create;
        uint32_t result;
    };
    const Case cases[] = {{0, CSIDL_PERSONAL, 0, 1}, {0x0C001000, 0x24, 1, 1}, {0xFFFFFFFF, kUnknownFolder, 7, 0}};
    for (const Case& c : cases) {
        for (uint32_t misalign : {0u, 1u, 2u, 3u}) {
            SCOPED_TRACE("folder " + bench::hex(c.folder) + " at +" + std::to_string(misalign));
            uint32_t buffer = bench.placeWString(u"left over from before", Placement::atEnd(misalign));
            bench.fake().clearLog();
            EXPECT_EQ(bench.call("SHGetSpecialFolderPath", {c.owner, buffer, c.folder, c.create}), c.result);
            EXPECT_EQ(onlyCall("SHGetSpecialFolderPath").args, (std::vector<uint32_t>{c.owner, buffer, c.folder, c.create}));
            const bench::FolderQuery& query = bench.fake().shell().folderQueries().back();
            EXPECT_EQ(query.atEntry, std::optional<std::u16string>(u""));
            if (c.result) {
                EXPECT_EQ(bench.memory().readWString(buffer), *bench.fake().shell().folder(c.folder));
            }
        }
    }
}

// A failing query leaves the empty string behind and only the first unit
// was written: the rest of the caller's buffer is as it was.
TEST_F(SpecialFolder, OnlyTheFirstUnitIsWritten) {
    for (uint32_t misalign : {0u, 1u}) {
        uint32_t buffer = bench.placeWString(u"ABCD", Placement::atEnd(misalign));
        std::vector<uint8_t> before = bench.memory().readBytes(buffer, 10);
        EXPECT_EQ(bench.call("SHGetSpecialFolderPath", {0, buffer, kUnknownFolder, 0}), 0u);
        std::vector<uint8_t> after = bench.memory().readBytes(buffer, 10);
        EXPECT_EQ(after[0], 0);
        EXPECT_EQ(after[1], 0);
        EXPECT_EQ(std::vector<uint8_t>(after.begin() + 2, after.end()),
                  std::vector<uint8_t>(before.begin() + 2, before.end()));
    }
    // A buffer of a single unit that ends right at a guard page.
    uint32_t single = bench.placeBytes({'Z', 0x00}, Placement::exactEnd());
    EXPECT_EQ(bench.call("SHGetSpecialFolderPath", {0, single, kUnknownFolder, 0}), 0u);
    EXPECT_EQ(bench.memory().read16(single), 0u);
}

TEST_F(SpecialFolder, CoredllsResultAndLastErrorAreReturned) {
    uint32_t buffer = bench.allocate(2 * 260, Placement::atEnd(1));
    bench.fake().scriptNext("SHGetSpecialFolderPath", Outcome::returns(0).withLastError(3).afterRunning());
    setLastError(0);
    EXPECT_EQ(bench.call("SHGetSpecialFolderPath", {0, buffer, CSIDL_PERSONAL, 0}), 0u);
    EXPECT_EQ(lastError(), 3u);
    setLastError(0x4242);
    EXPECT_EQ(bench.call("SHGetSpecialFolderPath", {0, buffer, CSIDL_PERSONAL, 0}), 1u);
    EXPECT_EQ(lastError(), 0x4242u) << "the module changed the last-error value";
}

// --- CheckMenuItem -------------------------------------------------------------

class MenuCheck : public ShellFixture {};

TEST_F(MenuCheck, PassesTheThreeArgumentsAndCoredllsAnswerThrough) {
    uint32_t menu = bench.handles().acquire(bench::HandleKind::Menu, "test menu");
    struct Case {
        uint32_t menu, item, flags;
        std::optional<Outcome> scripted;
        uint32_t result, lastError;
    };
    const Case cases[] = {
        {menu, 5, bench::MF_CHECKED, std::nullopt, 0, 0x10},          // previous state: unchecked
        {menu, 5, 0x400 | 0, std::nullopt, bench::MF_CHECKED, 0x10},  // previous state: checked
        {0x0C0DEAD0, 1, 0, std::nullopt, 0xFFFFFFFF, 0x10},           // no such menu
        {menu, 0xFFFF, 0xFFFFFFFF, Outcome::returns(0xFFFFFFFF).withLastError(1401), 0xFFFFFFFF, 1401},
    };
    for (const Case& c : cases) {
        bench.fake().clearLog();
        if (c.scripted) bench.fake().scriptNext("CheckMenuItem", *c.scripted);
        setLastError(0x10);
        EXPECT_EQ(bench.call("CheckMenuItem", {c.menu, c.item, c.flags}), c.result);
        EXPECT_EQ(onlyCall("CheckMenuItem").args, (std::vector<uint32_t>{c.menu, c.item, c.flags}));
        EXPECT_EQ(lastError(), c.lastError);
    }
}

}  // namespace
}  // namespace devicetest
