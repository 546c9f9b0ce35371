// Placement of the fall-back banner's two pieces: the host bitmap's left and
// right halves, each scaled to the banner's height with its proportions kept,
// standing at the banner's left and right edges.
#pragma once

#include <stdint.h>

constexpr int32_t kBannerWidth = 800;
constexpr int32_t kBannerHeight = 407;

struct BannerPiece {
    int32_t destX, destY, destWidth, destHeight;
    int32_t sourceX, sourceY, sourceWidth, sourceHeight;
};

struct BannerLayout {
    int32_t sourceHalfWidth;
    uint32_t scaledHalfWidth;
    BannerPiece left;
    BannerPiece right;
};

// w, h: the host bitmap's size as GetObjectW reports it. The scale is taken
// in double precision in a fixed order (407.0 / h, then times w × 0.5), so
// that (198, 99) gives 406, not 407. A size that cannot be scaled — w or h
// not positive, or a scaled width beyond a signed 32-bit coordinate — gives
// pieces of width 0: the banner stays white.
BannerLayout bannerLayout(int32_t w, int32_t h);
