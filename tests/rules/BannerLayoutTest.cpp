#include "module/banner/bannerLayout.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <numeric>
#include <random>

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

// The integer roundings against the double formula itself, on every size up
// to 1000 x 1000, on sides next to powers of two, and on sizes whose exact
// result is a whole number, where the two roundings can land below it.
TEST(BannerLayout, ScaledHalfWidthIsTheDoubleFormulasBitForBit) {
    size_t checked = 0, differing = 0;
    auto compare = [&](uint64_t w, uint64_t h) {
        if (w < 1 || h < 1 || w > INT_MAX || h > INT_MAX) return;
        double p = 407.0 / double(h) * (double(w) * 0.5);
        uint32_t expected = p < 2147483648.0 ? uint32_t(p) : 0;
        ++checked;
        if (bannerLayout(int32_t(w), int32_t(h)).scaledHalfWidth != expected && differing++ == 0)
            ADD_FAILURE() << w << "x" << h << " should scale to " << expected;
    };
    for (uint64_t w = 1; w <= 1000; ++w)
        for (uint64_t h = 1; h <= 1000; ++h) compare(w, h);
    for (int i = 0; i < 31; ++i)
        for (int j = 0; j < 31; ++j)
            for (int dw = -2; dw <= 2; ++dw)
                for (int dh = -2; dh <= 2; ++dh) compare((uint64_t(1) << i) + dw, (uint64_t(1) << j) + dh);
    std::mt19937 random(407);
    for (int i = 0; i < 200000; ++i) {
        uint64_t h = random() % INT_MAX + 1;
        uint64_t multiple = i % 2 ? random() % 1000 + 1 : random() % 4000000 + 1;
        compare(2 * h * multiple / std::gcd(uint64_t(407), 2 * h), h);  // 407 w / 2h = multiple × 407 / gcd
    }
    EXPECT_EQ(differing, 0u) << "of " << checked << " sizes";
}

}  // namespace
