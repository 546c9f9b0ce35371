#include "module/banner/bannerLayout.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>

namespace {

struct Row {
    int32_t w, h, sourceHalf;
    uint32_t scaledHalf;
    int32_t rightX;
};

TEST(BannerLayout, TableOfHostBitmapSizes) {
    const Row rows[] = {
        {800, 407, 400, 400, 400}, {400, 407, 200, 200, 600}, {240, 407, 120, 120, 680},
        {320, 240, 160, 271, 529}, {240, 120, 120, 407, 393}, {240, 80, 120, 610, 190},
        {198, 99, 99, 406, 394},   {3, 407, 1, 1, 799},       {1, 1, 0, 203, 597},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.w << "x" << row.h);
        BannerLayout layout = bannerLayout(row.w, row.h);
        EXPECT_EQ(layout.sourceHalfWidth, row.sourceHalf);
        EXPECT_EQ(layout.scaledHalfWidth, row.scaledHalf);
        EXPECT_EQ(layout.right.destX, row.rightX);
        const BannerPiece& l = layout.left;
        EXPECT_EQ((std::array<int32_t, 8>{l.destX, l.destY, l.destWidth, l.destHeight, l.sourceX,
                                           l.sourceY, l.sourceWidth, l.sourceHeight}),
                  (std::array<int32_t, 8>{0, 0, int32_t(row.scaledHalf), 407, 0, 0, row.sourceHalf, row.h}));
        const BannerPiece& r = layout.right;
        EXPECT_EQ((std::array<int32_t, 8>{r.destY, r.destWidth, r.destHeight, r.sourceX, r.sourceY,
                                           r.sourceWidth, r.sourceHeight, 0}),
                  (std::array<int32_t, 8>{0, int32_t(row.scaledHalf), 407, row.sourceHalf, 0,
                                           row.sourceHalf, row.h, 0}));
    }
}

// Sizes with no sensible scale draw nothing, so the banner stays white.
TEST(BannerLayout, UnscalableSizesGiveEmptyPieces) {
    const std::pair<int32_t, int32_t> sizes[] = {
        {240, 0}, {0, 240}, {-240, 120}, {240, -120}, {INT_MIN, INT_MIN}, {INT_MAX, 1}, {20000000, 1}};
    for (auto [w, h] : sizes) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        BannerLayout layout = bannerLayout(w, h);
        EXPECT_EQ(layout.scaledHalfWidth, 0u);
        EXPECT_EQ(layout.left.destWidth, 0);
        EXPECT_EQ(layout.right.destWidth, 0);
        EXPECT_EQ(layout.right.destX, 800);
        EXPECT_EQ(layout.left.sourceWidth, 0);
    }
}

TEST(BannerLayout, LargestScalableWidthStaysASignedCoordinate) {
    BannerLayout layout = bannerLayout(10000000, 1);  // p = 2.035e9
    EXPECT_EQ(layout.scaledHalfWidth, 2035000000u);
    EXPECT_EQ(layout.right.destX, 800 - 2035000000);
}

}  // namespace
