// Caller memory: blocks at any alignment with guard pages on both sides,
// and host-side access that respects page rights.
#include "emulator/Bench.h"

#include <gtest/gtest.h>

namespace benchtest {
namespace {

using bench::Bench;
using bench::Placement;

TEST(CallerMemory, BlocksSitAgainstTheirGuardPages) {
    Bench bench;
    uint32_t exact = bench.allocate(10, Placement::exactEnd());
    EXPECT_TRUE(bench.memory().isMapped(exact + 9));
    EXPECT_FALSE(bench.memory().isMapped(exact + 10));

    uint32_t odd = bench.allocate(10, Placement::atEnd(1));
    EXPECT_EQ(odd % 4, 1u);
    EXPECT_TRUE(bench.memory().has(odd, 10, bench::kRead | bench::kWrite));
    EXPECT_FALSE(bench.memory().isMapped(odd + 10 + 3));

    uint32_t front = bench.allocate(10, Placement::atStart(3));
    EXPECT_EQ(front % bench::kPageSize, 3u);
    EXPECT_FALSE(bench.memory().isMapped(front - 4));

    bench.allocateAt(0x61234567, 2);
    EXPECT_TRUE(bench.memory().isMapped(0x61234568));
    EXPECT_THROW(bench.allocateAt(0x61235001, 2), bench::BenchMisuse) << "its guard page is taken";
}

TEST(CallerMemory, FieldsAndTextAtOddAddresses) {
    Bench bench;
    uint32_t block = bench.allocate(16, Placement::atEnd(3));
    bench.memory().write32(block + 1, 0xA1B2C3D4);
    EXPECT_EQ(bench.memory().read8(block + 1), 0xD4);
    EXPECT_EQ(bench.memory().read16(block + 2), 0xB2C3);
    EXPECT_EQ(bench.memory().read32(block + 1), 0xA1B2C3D4u);

    uint32_t text = bench.placeWString(u"\\Windows\\app.exe", Placement::atEnd(1));
    EXPECT_EQ(text % 2, 1u);
    EXPECT_EQ(bench.memory().readWString(text), u"\\Windows\\app.exe");
    // The terminator is the last thing before the guard page (within 3 bytes).
    EXPECT_THROW(bench.memory().readWString(text, 5), bench::MemoryFault);
}

TEST(CallerMemory, HostAccessRespectsRightsAndGuards) {
    Bench bench;
    uint32_t block = bench.allocate(4, Placement::exactEnd());
    EXPECT_THROW(bench.memory().read32(block + 1), bench::MemoryFault);
    uint32_t code = bench.allocateCode({0xE12FFF1E});
    EXPECT_THROW(bench.memory().write32(code, 0), bench::MemoryFault);
    bench.release(block);
    EXPECT_THROW(bench.memory().read8(block), bench::MemoryFault);
}

}  // namespace
}  // namespace benchtest
