// Each check that makes a call fail is shown failing on a snippet built to
// break it, and passing on its well-behaved twin, so that neither a check
// that never fires nor one that always fires goes unnoticed.
#include "emulator/Bench.h"
#include "tests/bench/TinyImage.h"

#include <gtest/gtest.h>

namespace benchtest {
namespace {

using bench::Bench;
using bench::CallResult;
using bench::FaultKind;
using bench::Placement;

const uint16_t kSetLastError = bench::Bench::coredllOrdinal("SetLastError");
const uint16_t kRecorded = bench::Bench::coredllOrdinal("SystemStarted");  // a plain recorder in the fake

class CallChecks : public ::testing::Test {
protected:
    void SetUp() override {
        TinyImage image;
        add(image, "add3", arm::add3());
        add(image, "sum6", arm::sum6());
        add(image, "loadWord", arm::loadWord());
        add(image, "loadHalf", arm::loadHalf());
        add(image, "storeWord", arm::storeWord());
        add(image, "blx", arm::blxR0());
        add(image, "clobberR4", arm::clobberR4());
        add(image, "leakStack", arm::leakStack());
        add(image, "thumb", arm::thumbSwitch());
        add(image, "swi", arm::swi());
        add(image, "loop", arm::loop());
        constant_ = image.addReadOnly(0x600DF00D);
        image.exportFunction("toSetLastError", 20, image.addForwarder(image.importOrdinal(kSetLastError)));
        uint32_t recorded = image.importOrdinal(kRecorded);
        image.exportFunction("toRecorder", 21, image.addForwarder(recorded));
        image.exportFunction("callRecorderTwice", 22,
                             image.addCode(arm::callTwice(TinyImage::va(recorded)), {11}));
        bench.load(image.build(), Bench::kDefaultBase);
    }

    void add(TinyImage& image, const std::string& name, const std::vector<uint32_t>& code) {
        image.exportFunction(name, nextOrdinal_++, image.addCode(code));
    }

    static void expectFault(const CallResult& result, FaultKind kind) {
        ASSERT_FALSE(result.ok()) << "the call should have failed";
        EXPECT_EQ(result.fault->kind, kind) << result.describe();
    }

    Bench bench;
    uint32_t constant_ = 0;
    uint16_t nextOrdinal_ = 1;
};

TEST_F(CallChecks, ReturnsR0AndCountsTheModulesInstructions) {
    EXPECT_EQ(bench.call("add3", {1, 20, 300}), 321u);
    EXPECT_EQ(bench.lastCall().moduleInstructions, 3u);
    // r0-r3, then the stack: arguments five and six are read from [sp] and [sp+4].
    EXPECT_EQ(bench.call("sum6", {1, 2, 4, 8, 16, 32}), 63u);
    EXPECT_EQ(bench.lastCall().moduleInstructions, 8u);
}

TEST_F(CallChecks, MisalignedWordAndHalfwordAccessesFail) {
    uint32_t block = bench.allocate(8);
    bench.memory().write32(block, 0x44332211);
    EXPECT_EQ(bench.call("loadWord", {block}), 0x44332211u);
    EXPECT_EQ(bench.call("loadHalf", {block + 2}), 0x4433u);

    CallResult word = bench.tryCall("loadWord", {block + 1});
    expectFault(word, FaultKind::Misaligned);
    EXPECT_EQ(word.fault->address, block + 1);
    expectFault(bench.tryCall("loadHalf", {block + 1}), FaultKind::Misaligned);
    expectFault(bench.tryCall("storeWord", {block + 2, 0}), FaultKind::Misaligned);
}

TEST_F(CallChecks, AccessBeyondAGuardPageFails) {
    uint32_t block = bench.allocate(16, Placement::exactEnd());
    EXPECT_TRUE(bench.tryCall("storeWord", {block + 12, 7}).ok());
    CallResult past = bench.tryCall("storeWord", {block + 16, 7});
    expectFault(past, FaultKind::Unmapped);
    EXPECT_EQ(past.fault->address, block + 16);
    expectFault(bench.tryCall("loadWord", {block - bench::kPageSize}), FaultKind::Unmapped);
}

TEST_F(CallChecks, PageRightsComeFromTheSectionFlags) {
    uint32_t constant = bench.instance() + constant_;
    EXPECT_EQ(bench.call("loadWord", {constant}), 0x600DF00Du);
    expectFault(bench.tryCall("storeWord", {constant, 0}), FaultKind::Protection);
    // Executing .rdata is refused as well.
    expectFault(bench.callAddress(constant), FaultKind::Protection);
}

TEST_F(CallChecks, InstructionsBeyondArmv4tFail) {
    CallResult blx = bench.tryCall("blx", {bench.exportAddress("add3")});
    expectFault(blx, FaultKind::InvalidInstruction);
    EXPECT_EQ(blx.fault->pc, bench.exportAddress("blx"));
}

TEST_F(CallChecks, ThumbStateFails) { expectFault(bench.tryCall("thumb"), FaultKind::ThumbState); }

TEST_F(CallChecks, BrokenCallingStandardFails) {
    expectFault(bench.tryCall("clobberR4"), FaultKind::Clobbered);
    expectFault(bench.tryCall("leakStack"), FaultKind::Clobbered);
}

TEST_F(CallChecks, SoftwareInterruptsAndRunawayLoopsFail) {
    expectFault(bench.tryCall("swi"), FaultKind::Exception);
    bench.cpu().setInstructionLimit(10000);
    expectFault(bench.tryCall("loop"), FaultKind::NoReturn);
}

TEST_F(CallChecks, AJumpToAFunctionTheFakeLacksFails) {
    EXPECT_TRUE(bench.tryCall("toRecorder", {5}).ok());
    bench.fake().withdraw(kRecorded);
    CallResult result = bench.tryCall("toRecorder", {5});
    expectFault(result, FaultKind::UnhandledImport);
    EXPECT_NE(result.fault->message.find("ordinal 1"), std::string::npos) << result.fault->message;
}

TEST_F(CallChecks, TheBenchRecoversAfterAFault) {
    expectFault(bench.tryCall("blx", {0}), FaultKind::InvalidInstruction);
    expectFault(bench.tryCall("thumb"), FaultKind::ThumbState);
    EXPECT_EQ(bench.call("add3", {1, 2, 3}), 6u);
}

TEST_F(CallChecks, CallFailedCarriesTheFault) {
    try {
        bench.call("clobberR4");
        FAIL() << "no exception";
    } catch (const bench::CallFailed& e) {
        EXPECT_EQ(e.fault().kind, FaultKind::Clobbered);
        EXPECT_NE(std::string(e.what()).find("r4"), std::string::npos) << e.what();
    }
}

TEST_F(CallChecks, ForwardedCallsReachTheFakeWithTheCallersFrame) {
    bench.fake().scriptNext(kRecorded, bench::Outcome::returns(0xAB).withLastError(77));
    uint32_t result = bench.call("toRecorder", {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(result, 0xABu);
    ASSERT_EQ(bench.fake().countOf(kRecorded), 1u);
    const bench::LoggedCall seen = bench.fake().callsTo(kRecorded)[0];
    ASSERT_GE(seen.args.size(), 6u);
    EXPECT_EQ(std::vector<uint32_t>(seen.args.begin(), seen.args.begin() + 6),
              (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(seen.lr, bench::Cpu::sentinel(0));
    EXPECT_EQ(seen.sp, bench.lastCall().entrySp);
    EXPECT_EQ(bench.memory().read32(seen.sp + 4), 6u);
    EXPECT_EQ(seen.lastError, 77u);
    EXPECT_EQ(bench.fake().errors().get(bench::FakeCoredll::kMainThread), 77u);
}

TEST_F(CallChecks, ImportCallsWithAFrameReturnToTheirCaller) {
    // The snippet keeps the first result in r4 across the second call.
    bench.fake().scriptNext(kRecorded, bench::Outcome::returns(40));
    bench.fake().scriptNext(kRecorded, bench::Outcome::returns(2));
    EXPECT_EQ(bench.call("callRecorderTwice"), 42u);
    EXPECT_EQ(bench.fake().callsTo(kRecorded)[1].depth, 1);
}

}  // namespace
}  // namespace benchtest
