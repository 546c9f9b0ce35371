#include "banner/bannerLayout.h"

namespace {

constexpr double kLargestCoordinate = 2147483647.0;

// False for a size whose scaled half width is no coordinate at all.
bool scaledHalfWidthOf(int32_t w, int32_t h, uint32_t& scaled) {
    if (w <= 0 || h <= 0) return false;
    double q = double(kBannerHeight) / double(h);
    double p = q * (double(w) * 0.5);
    if (!(p <= kLargestCoordinate)) return false;
    scaled = uint32_t(p);
    return true;
}

}  // namespace

BannerLayout bannerLayout(int32_t w, int32_t h) {
    uint32_t scaled = 0;
    bool drawable = scaledHalfWidthOf(w, h, scaled);
    int32_t half = drawable ? w / 2 : 0;
    int32_t height = drawable ? h : 0;
    int32_t width = int32_t(scaled);

    BannerLayout layout;
    layout.sourceHalfWidth = half;
    layout.scaledHalfWidth = scaled;
    layout.left = {0, 0, width, kBannerHeight, 0, 0, half, height};
    layout.right = {kBannerWidth - width, 0, width, kBannerHeight, half, 0, half, height};
    return layout;
}
