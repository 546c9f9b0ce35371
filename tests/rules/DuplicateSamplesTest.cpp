#include "module/audio/duplicateSamples.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> capture(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = uint8_t(0x10 + i * 5);
    return bytes;
}

TEST(DuplicateSamples, ByteStepsMatchTheWorkedExamples) {
    uint8_t eight[16] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
    duplicateSamplesByteByByte(eight, 8);
    const uint8_t doubled[16] = {0x10, 0x11, 0x10, 0x11, 0x12, 0x13, 0x12, 0x13,
                                 0x14, 0x15, 0x14, 0x15, 0x16, 0x17, 0x16, 0x17};
    EXPECT_EQ(std::memcmp(eight, doubled, 16), 0);

    uint8_t three[8] = {0xB0, 0xB1, 0xB2, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    duplicateSamplesByteByByte(three, 3);
    const uint8_t oddResult[8] = {0xB0, 0xB1, 0xB1, 0xB1, 0xB1, 0xB1, 0xEE, 0xEE};
    EXPECT_EQ(std::memcmp(three, oddResult, 8), 0);
}

TEST(DuplicateSamples, EvenCountsSpreadEveryFrameOverTwo) {
    std::vector<uint8_t> input = capture(160);
    std::vector<uint8_t> buffer = input;
    buffer.resize(320, 0xEE);
    duplicateSamplesByteByByte(buffer.data(), 160);
    for (size_t k = 0; k < 80; ++k)
        for (size_t copy = 0; copy < 2; ++copy) {
            EXPECT_EQ(buffer[4 * k + 2 * copy], input[2 * k]) << k;
            EXPECT_EQ(buffer[4 * k + 2 * copy + 1], input[2 * k + 1]) << k;
        }
}

// The word and halfword paths must give the byte steps' result at every
// alignment and count, and leave everything past 2N untouched.
TEST(DuplicateSamples, FastPathsAreBitIdenticalToTheByteSteps) {
    for (size_t misalign = 0; misalign < 4; ++misalign)
        for (uint32_t n = 0; n <= 170; ++n) {
            std::vector<uint8_t> expected(4 + 2 * n + 8, 0xEE), actual;
            std::vector<uint8_t> input = capture(n);
            std::copy(input.begin(), input.end(), expected.begin() + 4);
            actual = expected;
            // Align the copy the same way the test means: offset from a word boundary.
            std::vector<uint32_t> storage((actual.size() + 8) / 4 + 1);
            uint8_t* base = reinterpret_cast<uint8_t*>(storage.data()) + misalign;
            std::memcpy(base, actual.data(), actual.size());
            duplicateSamplesByteByByte(expected.data() + 4, n);
            duplicateSamples(base + 4, n);
            ASSERT_EQ(std::memcmp(base, expected.data(), expected.size()), 0)
                << "n=" << n << " misalign=" << misalign;
        }
}

TEST(DuplicateSamples, TinyCountsChangeNothingOrOneFrame) {
    uint8_t buffer[4] = {1, 2, 3, 4};
    duplicateSamples(buffer, 0);
    EXPECT_EQ(buffer[0] + buffer[1] * 10 + buffer[2] * 100 + buffer[3] * 1000, 4321);
    duplicateSamples(buffer, 2);
    const uint8_t once[4] = {1, 2, 1, 2};
    EXPECT_EQ(std::memcmp(buffer, once, 4), 0);
    uint8_t single[2] = {9, 8};
    duplicateSamples(single, 1);
    EXPECT_EQ(single[0], 9);
    EXPECT_EQ(single[1], 8);
}

}  // namespace
