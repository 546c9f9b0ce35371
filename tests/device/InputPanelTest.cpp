// The soft input panel functions and CeZeroPointer on the real image: the
// module answers them alone, never calling COREDLL and never importing them.
#include "emulator/Bench.h"

#include "formats/exporttable/ExportTable.h"
#include "formats/pe/PeImage.h"

#include <gtest/gtest.h>

#include <set>

namespace devicetest {
namespace {

using bench::Bench;
using bench::CallResult;
using bench::Placement;

constexpr uint8_t kFence = 0xA5;
constexpr uint32_t kClassIdSize = 16;
constexpr uint32_t kUndefinedInstruction = 0xE7F000F0;  // udf: faults if ever run

// A record placed `misalign` bytes past a word boundary inside a block with
// four fence bytes on each side, so a stray byte written next to it shows.
struct FencedRecord {
    uint32_t block = 0;
    uint32_t address = 0;
    uint32_t size = 0;
};

FencedRecord placeFenced(Bench& bench, const std::vector<uint8_t>& content, uint32_t misalign) {
    FencedRecord r;
    r.size = uint32_t(content.size());
    r.block = bench.allocate(r.size + 8 + misalign, Placement::atStart(0));
    bench.memory().writeBytes(r.block, std::vector<uint8_t>(r.size + 8 + misalign, kFence));
    r.address = r.block + 4 + misalign;
    bench.memory().writeBytes(r.address, content);
    return r;
}

// The record's bytes; fails the test if a fence byte changed.
std::vector<uint8_t> readFenced(Bench& bench, const FencedRecord& r) {
    uint32_t total = r.size + 8 + (r.address - r.block - 4);
    std::vector<uint8_t> all = bench.memory().readBytes(r.block, total);
    uint32_t at = r.address - r.block;
    for (uint32_t i = 0; i < total; ++i) {
        if (i >= at && i < at + r.size) continue;
        EXPECT_EQ(all[i], kFence) << "byte " << int(i) - int(at) << " relative to the record was written";
    }
    return std::vector<uint8_t>(all.begin() + at, all.begin() + at + r.size);
}

std::vector<uint8_t> classId(uint8_t first) {
    std::vector<uint8_t> id(kClassIdSize);
    for (uint32_t i = 0; i < kClassIdSize; ++i) id[i] = uint8_t(first + 7 * i);
    return id;
}

class InputPanel : public ::testing::Test {
protected:
    void SetUp() override {
        bench.load(VELMARK_DLL_PATH);
        bench.fake().clearLog();
    }
    void TearDown() override {
        EXPECT_TRUE(bench.fake().calls().empty())
            << "COREDLL was called, first: " << bench.fake().calls().front().name;
    }

    std::vector<uint8_t> currentIM() {
        FencedRecord out = placeFenced(bench, std::vector<uint8_t>(kClassIdSize, 0xCC), 0);
        EXPECT_EQ(bench.call("SipGetCurrentIM", {out.address}), 1u);
        return readFenced(bench, out);
    }

    Bench bench;
};

struct ConstantAnswer {
    const char* name;
    uint32_t result;
};

constexpr ConstantAnswer kConstantAnswers[] = {
    {"SipStatus", 0},    {"SipRegisterNotification", 0}, {"SipGetInfo", 0},
    {"SipSetInfo", 0},   {"SipEnumIM", 0},               {"SipShowIM", 1},
    {"SipSetDefaultRect", 1},
};

// Whatever they are given (nothing, nulls, pointers to nowhere, a record, a
// procedure that faults if called, six words), the seven answer the same.
TEST_F(InputPanel, TheSevenConstantAnswersIgnoreTheirArguments) {
    std::vector<uint8_t> pattern(48);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = uint8_t(0x30 + i);
    FencedRecord record = placeFenced(bench, pattern, 1);
    uint32_t faultingProcedure = bench.allocateCode({kUndefinedInstruction, kUndefinedInstruction});
    const std::vector<std::vector<uint32_t>> argumentLists = {
        {},
        {0, 0, 0, 0},
        {0xDEAD0001, 0xFFFFFFFF, 0x80000000, 1},
        {record.address},
        {faultingProcedure, record.address},
        {record.address, faultingProcedure, 3, 4, 5, 6},
        {1, 0, 2, 0, 0xC0FFEE00, 0xFFFFFFFF},
    };
    for (const ConstantAnswer& fn : kConstantAnswers) {
        ASSERT_EQ(bench.exportAddress(fn.name), bench.exportAddressOrdinal(Bench::coredllOrdinal(fn.name))) << fn.name;
        for (size_t i = 0; i < argumentLists.size(); ++i) {
            for (int repeat = 0; repeat < 2; ++repeat) {
                CallResult r = bench.tryCallOrdinal(Bench::coredllOrdinal(fn.name), argumentLists[i]);
                ASSERT_TRUE(r.ok()) << fn.name << " arguments #" << i << ": " << r.describe();
                EXPECT_EQ(r.r0, fn.result) << fn.name << " arguments #" << i;
            }
        }
        EXPECT_EQ(readFenced(bench, record), pattern) << fn.name << " touched the caller's record";
    }
}

// The bench notices a call of the enumeration procedure: without that, the
// test above could not tell SipEnumIM calling it from not calling it.
TEST_F(InputPanel, TheFaultingProcedureReallyFaultsWhenCalled) {
    uint32_t faultingProcedure = bench.allocateCode({kUndefinedInstruction});
    CallResult r = bench.callAddress(faultingProcedure, {});
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.fault->kind, bench::FaultKind::InvalidInstruction) << r.describe();
}

TEST_F(InputPanel, TheCurrentInputMethodIsAllZeroBeforeAnyIsSet) {
    for (uint32_t misalign : {0u, 1u, 2u, 3u}) {
        FencedRecord out = placeFenced(bench, std::vector<uint8_t>(kClassIdSize, 0xCC), misalign);
        EXPECT_EQ(bench.call("SipGetCurrentIM", {out.address}), 1u);
        EXPECT_EQ(readFenced(bench, out), std::vector<uint8_t>(kClassIdSize, 0)) << "misalign " << misalign;
    }
}

// Records at every alignment, for the setter and for the getter: the bench
// fails any misaligned word or halfword access, and the fences show a byte
// written outside the 16.
TEST_F(InputPanel, SetThenGetYieldsTheIdentifierExactlyAtAnyAlignment) {
    uint8_t seed = 1;
    for (uint32_t setAt : {0u, 1u, 2u, 3u}) {
        for (uint32_t getAt : {0u, 1u, 2u, 3u}) {
            std::vector<uint8_t> id = classId(seed++);
            FencedRecord in = placeFenced(bench, id, setAt);
            ASSERT_EQ(bench.call("SipSetCurrentIM", {in.address}), 1u);
            EXPECT_EQ(readFenced(bench, in), id) << "the setter changed the caller's record";
            FencedRecord out = placeFenced(bench, std::vector<uint8_t>(kClassIdSize, 0xCC), getAt);
            ASSERT_EQ(bench.call("SipGetCurrentIM", {out.address}), 1u);
            EXPECT_EQ(readFenced(bench, out), id) << "set at +" << setAt << ", got at +" << getAt;
        }
    }
}

TEST_F(InputPanel, TheLastIdentifierSetIsTheOneKeptAndReadingDoesNotConsumeIt) {
    std::vector<uint8_t> first = classId(0x11), second = classId(0x80);
    ASSERT_EQ(bench.call("SipSetCurrentIM", {placeFenced(bench, first, 2).address}), 1u);
    ASSERT_EQ(bench.call("SipSetCurrentIM", {placeFenced(bench, second, 3).address}), 1u);
    EXPECT_EQ(currentIM(), second);
    EXPECT_EQ(currentIM(), second);
    // The caller's record is copied, not referred to: changing it later changes nothing.
    FencedRecord in = placeFenced(bench, first, 0);
    ASSERT_EQ(bench.call("SipSetCurrentIM", {in.address}), 1u);
    bench.memory().writeBytes(in.address, second);
    EXPECT_EQ(currentIM(), first);
}

TEST_F(InputPanel, ANullRecordIsRefusedAndChangesNothing) {
    std::vector<uint8_t> id = classId(0x42);
    ASSERT_EQ(bench.call("SipSetCurrentIM", {placeFenced(bench, id, 1).address}), 1u);
    // Address 0 is unmapped: any access through it would fail the call.
    EXPECT_EQ(bench.call("SipGetCurrentIM", {0}), 0u);
    EXPECT_EQ(bench.call("SipSetCurrentIM", {0}), 0u);
    EXPECT_EQ(currentIM(), id);
}

// A record that ends exactly at a guard page: a copy longer than 16 bytes
// would run into it.
TEST_F(InputPanel, TheCopiesStopAtSixteenBytes) {
    std::vector<uint8_t> id = classId(0x5A);
    uint32_t in = bench.placeBytes(id, Placement::exactEnd());
    ASSERT_EQ(bench.call("SipSetCurrentIM", {in}), 1u);
    uint32_t out = bench.placeBytes(std::vector<uint8_t>(kClassIdSize, 0xCC), Placement::exactEnd());
    ASSERT_EQ(bench.call("SipGetCurrentIM", {out}), 1u);
    EXPECT_EQ(bench.memory().readBytes(out, kClassIdSize), id);
}

TEST_F(InputPanel, TheInputMethodSurvivesThreadNotifications) {
    std::vector<uint8_t> id = classId(0x33);
    ASSERT_EQ(bench.call("SipSetCurrentIM", {placeFenced(bench, id, 0).address}), 1u);
    EXPECT_EQ(bench.threadAttach(), 1u);
    EXPECT_EQ(bench.threadDetach(), 1u);
    EXPECT_EQ(currentIM(), id);
}

TEST_F(InputPanel, EachProcessRemembersItsOwnInputMethod) {
    Bench other;
    other.load(VELMARK_DLL_PATH, Bench::kOtherBase);
    std::vector<uint8_t> mine = classId(0x01), theirs = classId(0x90);
    ASSERT_EQ(bench.call("SipSetCurrentIM", {placeFenced(bench, mine, 0).address}), 1u);
    uint32_t out = other.placeBytes(std::vector<uint8_t>(kClassIdSize, 0xCC));
    ASSERT_EQ(other.call("SipGetCurrentIM", {out}), 1u);
    EXPECT_EQ(other.memory().readBytes(out, kClassIdSize), std::vector<uint8_t>(kClassIdSize, 0));
    ASSERT_EQ(other.call("SipSetCurrentIM", {other.placeBytes(theirs, Placement::atEnd(3))}), 1u);
    EXPECT_EQ(currentIM(), mine);
}

TEST_F(InputPanel, CeZeroPointerClearsBitThirtyOneOnly) {
    const std::pair<uint32_t, uint32_t> cases[] = {
        {0x80001234, 0x00001234}, {0xFFFFFFFF, 0x7FFFFFFF}, {0x80000000, 0x00000000},
        {0xC0000001, 0x40000001}, {0x00000000, 0x00000000}, {0x00001234, 0x00001234},
        {0x7FFFFFFF, 0x7FFFFFFF}, {0x40000000, 0x40000000}, {0x60000003, 0x60000003},
    };
    for (auto [in, expected] : cases) {
        EXPECT_EQ(bench.call("CeZeroPointer", {in}), expected) << bench::hex(in);
        EXPECT_EQ(bench.callOrdinal(Bench::coredllOrdinal("CeZeroPointer"), {in}), expected) << bench::hex(in);
    }
}

// The entries the module answers without COREDLL.
constexpr const char* kAnsweredAlone[] = {"SipStatus", "SipRegisterNotification", "SipShowIM", "SipGetInfo",
                                          "SipSetInfo", "SipEnumIM", "SipGetCurrentIM", "SipSetCurrentIM",
                                          "SipSetDefaultRect", "CeZeroPointer"};

// The module loads whether or not COREDLL has these: none is imported.
TEST(InputPanelImports, NoneOfTheTenIsImportedFromCoredll) {
    std::set<uint16_t> answeredAlone;
    for (const char* name : kAnsweredAlone) answeredAlone.insert(Bench::coredllOrdinal(name));
    pe::Image image = pe::readImageFile(VELMARK_DLL_PATH);
    ASSERT_EQ(image.imports.size(), 1u);
    size_t byOrdinal = 0;
    for (const pe::Import& entry : image.imports[0].entries) {
        if (!entry.byOrdinal) continue;
        ++byOrdinal;
        EXPECT_EQ(answeredAlone.count(entry.ordinal), 0u) << "ordinal " << entry.ordinal << " is imported";
    }
    EXPECT_GT(byOrdinal, 1600u) << "the import list was not read";
    // Nor by name.
    for (const pe::Import& entry : image.imports[0].entries) {
        if (entry.byOrdinal) continue;
        EXPECT_FALSE(entry.name.rfind("Sip", 0) == 0 || entry.name == "CeZeroPointer") << entry.name;
    }
}

// And so a COREDLL without them still loads the module, and they still answer.
TEST(InputPanelImports, TheModuleLoadsAndAnswersWhenCoredllLacksThem) {
    Bench bench;
    for (const char* name : kAnsweredAlone) bench.fake().withdraw(name);
    bench.load(VELMARK_DLL_PATH);
    EXPECT_EQ(bench.call("SipStatus"), 0u);
    EXPECT_EQ(bench.call("SipShowIM", {1}), 1u);
    uint32_t out = bench.placeBytes(std::vector<uint8_t>(kClassIdSize, 0xCC));
    EXPECT_EQ(bench.call("SipGetCurrentIM", {out}), 1u);
    EXPECT_EQ(bench.call("CeZeroPointer", {0x80000010}), 0x10u);
}

}  // namespace
}  // namespace devicetest
