// The forwarder encoding (tools/pe/Forwarder.h) on the emulated core: the
// tail jump reaches a slot after it (add) and one before it (sub), and the
// encoding round-trips up to its reach in both directions and no further.
#include "emulator/Bench.h"
#include "formats/pe/Forwarder.h"

#include <gtest/gtest.h>

namespace {

using pe::decodeForwarder;
using pe::encodeForwarder;

TEST(Forwarder, JumpsThroughASlotOnEitherSide) {
    bench::Bench bench;
    const uint32_t answer = bench.allocateCode({0xE3A0002A, 0xE12FFF1E});  // mov r0, #42; bx lr
    const uint32_t before = bench.allocate(4);
    const uint32_t forwarder = bench.allocateCode({0, 0});
    const uint32_t after = bench.allocate(4);
    ASSERT_LT(before, forwarder);
    ASSERT_GT(after, forwarder);
    for (uint32_t slot : {before, after}) {
        bench.memory().write32(slot, answer);
        pe::ForwarderCode code = encodeForwarder(forwarder, slot).value();
        EXPECT_EQ((code[0] >> 21) & 0xF, slot < forwarder ? 2u : 4u);  // sub or add
        bench.memory().poke(forwarder, code.data(), pe::kForwarderSize);
        bench::CallResult r = bench.callAddress(forwarder, {7, 8, 9, 10});
        EXPECT_TRUE(r.ok()) << r.describe();
        EXPECT_EQ(r.r0, 42u);
        bench.memory().write32(slot, 0);
    }
}

TEST(Forwarder, ReachesAMegabyteEachWay) {
    const uint32_t at = 0x10200000, pc = at + 8;
    for (int64_t distance : {0L, 4L, 0xFFCL, 0x1000L, 0x12344L, int64_t(pe::kForwarderReach) - 4}) {
        for (int64_t signedDistance : {distance, -distance}) {
            uint32_t slot = uint32_t(pc + signedDistance);
            std::optional<pe::ForwarderCode> code = encodeForwarder(at, slot);
            ASSERT_TRUE(code) << signedDistance;
            EXPECT_EQ(decodeForwarder(at, (*code)[0], (*code)[1]), slot) << signedDistance;
        }
    }
    EXPECT_FALSE(encodeForwarder(at, pc + pe::kForwarderReach));
    EXPECT_FALSE(encodeForwarder(at, pc - pe::kForwarderReach));
    EXPECT_FALSE(decodeForwarder(at, 0xE59FC000, 0xE59CF000));  // ldr ip, [pc]; ldr pc, [ip]: holds a literal
}

}  // namespace
