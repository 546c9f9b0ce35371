// The module frame on the emulated device: every forwarded export passes
// its call to COREDLL's function untouched and leaves no frame, at either
// load base; the entry routine answers TRUE for every reason, and thread
// notifications change nothing.
#include "emulator/Bench.h"

#include "formats/exporttable/ExportTable.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using bench::Bench;
using bench::FakeCoredll;
using bench::Outcome;

constexpr uint32_t kLastErrorBefore = 0x0BEF0BEF;

const std::vector<const velmark::ExportEntry*>& forwardedRows() {
    static const std::vector<const velmark::ExportEntry*> rows = [] {
        std::vector<const velmark::ExportEntry*> found;
        for (const velmark::ExportEntry& row : Bench::coredllTable().rows())
            if (row.forwarded()) found.push_back(&row);
        return found;
    }();
    return rows;
}

// Arguments and results that name the row, so that a call landing on the
// wrong function or with shuffled arguments cannot pass.
std::vector<uint32_t> argumentsFor(uint16_t ordinal) {
    std::vector<uint32_t> args;
    for (uint32_t i = 1; i <= 6; ++i) args.push_back(0xA0000000u | uint32_t(ordinal) << 8 | i);
    return args;
}
uint32_t resultFor(uint16_t ordinal) { return 0x5E000000u | ordinal; }
uint32_t lastErrorFor(uint16_t ordinal) { return 0x00E00000u | ordinal; }

// What one forwarded call did, for comparing two load bases.
struct Observed {
    uint32_t result = 0, lastError = 0;
    uint64_t instructions = 0;
    std::vector<uint32_t> argsSeen;
    bool operator==(const Observed& o) const {
        return result == o.result && lastError == o.lastError && instructions == o.instructions &&
               argsSeen == o.argsSeen;
    }
};

class Forwarding : public ::testing::TestWithParam<uint32_t> {
protected:
    void SetUp() override { device.load(VELMARK_DLL_PATH, GetParam()); }

    // Calls the row's export by name with six arguments. COREDLL's function
    // answers with a result of its own and, for every other row, a
    // last-error value; for the rest it leaves the value alone.
    Observed callRow(const velmark::ExportEntry& row) {
        Outcome outcome = Outcome::returns(resultFor(row.ordinal));
        bool setsError = row.ordinal % 2 == 0;
        if (setsError) outcome = outcome.withLastError(lastErrorFor(row.ordinal));
        device.fake().scriptNext(row.ordinal, outcome);
        device.fake().errors().set(FakeCoredll::kMainThread, kLastErrorBefore);
        device.fake().clearLog();

        std::vector<uint32_t> args = argumentsFor(row.ordinal);
        uint32_t result = device.call(row.name, args);
        const bench::CallResult& call = device.lastCall();

        Observed seen{result, device.fake().errors().get(FakeCoredll::kMainThread), call.moduleInstructions, {}};
        const std::vector<bench::LoggedCall>& log = device.fake().calls();
        EXPECT_EQ(log.size(), 1u) << row.name << " should reach COREDLL exactly once";
        if (log.empty()) return seen;
        const bench::LoggedCall& reached = log[0];
        EXPECT_EQ(reached.ordinal, row.ordinal) << row.name << " reached " << reached.name;
        seen.argsSeen.assign(reached.entryWords.begin(), reached.entryWords.begin() + 6);
        EXPECT_EQ(seen.argsSeen, args) << row.name;
        // No frame: COREDLL sees the caller's return address and stack.
        EXPECT_EQ(reached.lr, bench::Cpu::sentinel(0)) << row.name;
        EXPECT_EQ(reached.sp, call.entrySp) << row.name;
        EXPECT_EQ(reached.depth, 1) << row.name;
        EXPECT_EQ(result, resultFor(row.ordinal)) << row.name;
        EXPECT_EQ(seen.lastError, setsError ? lastErrorFor(row.ordinal) : kLastErrorBefore) << row.name;
        // Two loads and the jump: the slot's address, then pc from the slot.
        EXPECT_EQ(call.moduleInstructions, 2u) << row.name;
        return seen;
    }

    Bench device;
};

TEST_P(Forwarding, EveryForwardedRowPassesItsCallStraightToCoredll) {
    ASSERT_EQ(forwardedRows().size(), 1649u);
    for (const velmark::ExportEntry* row : forwardedRows()) {
        // The export the application would bind to is code in the module
        // (data-object rows included), not a forwarded-export string.
        uint32_t address = device.exportAddress(row->name);
        EXPECT_EQ(address, device.exportAddressOrdinal(row->ordinal)) << row->name;
        EXPECT_TRUE(device.memory().has(address, 12, bench::kExecute)) << row->name;
        callRow(*row);
        if (HasFailure()) break;  // one row's story is enough
    }
}

TEST_P(Forwarding, ForwardByNameRowsAreBoundToCoredllByName) {
    std::vector<std::string> byName;
    for (const bench::BoundImport& import : device.image().imports)
        if (import.byName) byName.push_back(import.name);
    std::vector<std::string> expected;
    for (const velmark::ExportEntry* row : forwardedRows())
        if (row->disposition == velmark::Disposition::ForwardByName) expected.push_back(row->name);
    std::sort(byName.begin(), byName.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(byName, expected);
    EXPECT_EQ(byName.size(), 8u);
}

INSTANTIATE_TEST_SUITE_P(AtBothBases, Forwarding, ::testing::Values(Bench::kDefaultBase, Bench::kOtherBase),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                             return info.param == Bench::kDefaultBase ? "DefaultBase" : "OtherBase";
                         });

TEST(Frame, TheImageRunsIdenticallyAtTwoBases) {
    Bench low, high;
    low.load(VELMARK_DLL_PATH, Bench::kDefaultBase);
    high.load(VELMARK_DLL_PATH, Bench::kOtherBase);
    ASSERT_EQ(low.fake().calls().size(), high.fake().calls().size()) << "process attach differs";
    for (size_t i = 0; i < low.fake().calls().size(); ++i)
        EXPECT_EQ(low.fake().calls()[i].ordinal, high.fake().calls()[i].ordinal);

    for (Bench* device : {&low, &high}) {
        device->fake().scriptAlways("lineDial", Outcome::returns(0x600D).withLastError(0x77));
        device->fake().clearLog();
    }
    uint32_t lowResult = low.call("lineDial", argumentsFor(1252));
    uint32_t highResult = high.call("lineDial", argumentsFor(1252));
    EXPECT_EQ(lowResult, highResult);
    EXPECT_EQ(low.lastCall().moduleInstructions, high.lastCall().moduleInstructions);
    EXPECT_EQ(low.fake().calls()[0].entryWords, high.fake().calls()[0].entryWords);
}

// The module's writable sections: all of its process-wide state.
std::vector<uint8_t> writableState(Bench& device) {
    std::vector<uint8_t> bytes;
    for (const bench::MappedSection& s : device.image().sections) {
        if (s.discarded || !(s.rights & bench::kWrite)) continue;
        std::vector<uint8_t> part = device.memory().readBytes(s.start, s.size);
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

void enableLanguageModule(Bench& device) {
    device.fake().registry().setDword(u"MUI", u"Enable", 1);
    device.fake().files().add(std::u16string(bench::Modules::kDefaultHostPath) + u".0409.mui", {0x4D, 0x5A});
}

TEST(Frame, ThreadNotificationsChangeNothing) {
    for (bool language : {false, true}) {
        SCOPED_TRACE(language ? "with a language module" : "without a language module");
        Bench device;
        if (language) enableLanguageModule(device);
        device.load(VELMARK_DLL_PATH);
        std::vector<uint8_t> before = writableState(device);
        bench::HandleLedger::Mark mark = device.handles().mark();
        device.fake().clearLog();

        EXPECT_EQ(device.threadAttach(), 1u);
        EXPECT_EQ(device.threadDetach(), 1u);
        EXPECT_EQ(device.threadAttach(), 1u);

        EXPECT_EQ(writableState(device), before);
        EXPECT_TRUE(device.fake().calls().empty()) << "first call: " << device.fake().calls()[0].name;
        EXPECT_TRUE(device.handles().openSince(mark).empty());
        EXPECT_EQ(device.handles().open(bench::HandleKind::Module).size(), language ? 1u : 0u);
    }
}

TEST(Frame, DllMainAnswersTrueForEveryReasonAndOutcome) {
    struct Setup {
        const char* name;
        void (*prepare)(Bench&);
    };
    const Setup setups[] = {
        {"no MUI key", [](Bench&) {}},
        {"language module loads", enableLanguageModule},
        {"language module file absent", [](Bench& d) { d.fake().registry().setDword(u"MUI", u"Enable", 1); }},
        {"registry open fails", [](Bench& d) {
             enableLanguageModule(d);
             d.fake().failOnCall("RegOpenKeyExW", 1);
         }},
        {"LoadLibraryW fails", [](Bench& d) {
             enableLanguageModule(d);
             d.fake().failOnCall("LoadLibraryW", 1);
         }},
    };
    for (const Setup& setup : setups) {
        SCOPED_TRACE(setup.name);
        Bench device;
        setup.prepare(device);
        device.load(VELMARK_DLL_PATH);  // a FALSE from process attach would be a LoadRefused
        EXPECT_EQ(device.lastCall().r0, 1u);
        EXPECT_EQ(device.threadAttach(), 1u);
        EXPECT_EQ(device.threadDetach(), 1u);
        EXPECT_EQ(device.unload(), 1u);
        EXPECT_TRUE(device.handles().open(bench::HandleKind::Module).empty());
        EXPECT_TRUE(device.handles().open(bench::HandleKind::RegistryKey).empty());
    }
}

TEST(Frame, TwoProcessesKeepTheirOwnModuleState) {
    Bench withLanguage, without;
    enableLanguageModule(withLanguage);
    withLanguage.load(VELMARK_DLL_PATH);
    without.load(VELMARK_DLL_PATH);
    EXPECT_EQ(withLanguage.handles().open(bench::HandleKind::Module).size(), 1u);
    without.unload();
    EXPECT_EQ(without.fake().countOf("FreeLibrary"), 0u);
    withLanguage.unload();
    EXPECT_EQ(withLanguage.fake().countOf("FreeLibrary"), 1u);
}

}  // namespace
