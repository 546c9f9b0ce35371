// The base relocation directory's bytes for RVAs chosen at page edges.
#include "toolchain/imagewriter/BaseRelocations.h"
#include "toolchain/imagewriter/ImageError.h"

#include <gtest/gtest.h>

namespace {

using imagewriter::BaseRelocationDirectory;

TEST(BaseRelocationDirectory, OneBlockPerPagePaddedToEvenCounts) {
    // 0x1FFC is the last word of page 0x1000; 0x2000 opens the next page.
    BaseRelocationDirectory dir({0x1FFC, 0x2000, 0x2004, 0x5010});
    EXPECT_EQ(dir.relocationCount(), 4u);
    EXPECT_EQ(dir.blockCount(), 3u);
    const std::vector<uint8_t> expected = {
        0x00, 0x10, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00, 0xFC, 0x3F, 0x00, 0x00,  // page 0x1000: 0xFFC, pad
        0x00, 0x20, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x30, 0x04, 0x30,  // page 0x2000: 0x000, 0x004
        0x00, 0x50, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x10, 0x30, 0x00, 0x00,  // page 0x5000: 0x010, pad
    };
    EXPECT_EQ(dir.size(), expected.size());
    EXPECT_EQ(dir.bytes(), expected);
}

TEST(BaseRelocationDirectory, EmptyWithoutRelocations) {
    BaseRelocationDirectory dir({});
    EXPECT_EQ(dir.size(), 0u);
    EXPECT_EQ(dir.blockCount(), 0u);
    EXPECT_TRUE(dir.bytes().empty());
}

TEST(BaseRelocationDirectory, RefusesDuplicatesAndDisorder) {
    EXPECT_THROW(BaseRelocationDirectory({0x1000, 0x1000}), imagewriter::ImageError);
    EXPECT_THROW(BaseRelocationDirectory({0x2000, 0x1000}), imagewriter::ImageError);
}

}  // namespace
