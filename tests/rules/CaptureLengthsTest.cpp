#include "module/audio/captureLengths.h"

#include <gtest/gtest.h>

namespace {

// Runs prepare, add, then rounds of (device fills, callback doubles, add
// again) over a buffer of `capacity` bytes, the way the header's length
// field travels, and checks that no announced length would let the
// callback write past the buffer.
void runCycle(uint32_t capacity, std::vector<uint32_t>* lengths = nullptr) {
    uint32_t field = capacity;
    auto note = [&](uint32_t v) {
        if (lengths) lengths->push_back(v);
    };
    field = lengthAnnouncedOnPrepare(field);
    note(field);
    ASSERT_LE(2 * field, capacity) << "prepare, capacity " << capacity;
    for (int round = 0; round < 3; ++round) {
        field = lengthAnnouncedOnAdd(field);
        note(field);
        ASSERT_LE(2 * field, capacity) << "add, capacity " << capacity;
        uint32_t announced = field > kDeviceBufferBytes ? kDeviceBufferBytes : field;
        field = 2 * announced;  // what the callback leaves
        note(field);
    }
}

TEST(CaptureLengths, FullSizedBuffersTravel160_160_320_160) {
    for (uint32_t capacity : {320u, 321u, 4096u, 0xFFFFFFFFu}) {
        std::vector<uint32_t> lengths;
        runCycle(capacity, &lengths);
        EXPECT_EQ(lengths, (std::vector<uint32_t>{160, 160, 320, 160, 320, 160, 320})) << capacity;
    }
}

TEST(CaptureLengths, NoCapacityLetsTheCallbackOverrun) {
    for (uint32_t capacity = 0; capacity < 400; ++capacity) runCycle(capacity);
}

TEST(CaptureLengths, SmallBuffersAnnounceTheLargestEvenHalf) {
    EXPECT_EQ(lengthAnnouncedOnPrepare(319), 158u);
    EXPECT_EQ(lengthAnnouncedOnPrepare(100), 50u);
    EXPECT_EQ(lengthAnnouncedOnPrepare(3), 0u);
    // A doubled small buffer must never read as the full-sized mark.
    EXPECT_EQ(lengthAnnouncedOnPrepare(160), 78u);
    EXPECT_EQ(lengthAnnouncedOnAdd(160), 160u);
}

}  // namespace
