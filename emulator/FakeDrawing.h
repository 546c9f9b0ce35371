// Drawing: device contexts and bitmaps over real pixel surfaces.
// Honours: GetDC(NULL) is a screen DC; CreateCompatibleBitmap makes a bitmap
// in the screen's format (32-bit XRGB); SelectObject makes it a memory DC's
// surface; FillRect, StretchBlt (nearest neighbour) and StretchDIBits
// (uncompressed 16/24/32-bit DIBs, bottom-up or top-down, rows read from
// emulator memory, a negative source height mirrored) draw real pixels; StretchDIBits returns the scan lines
// drawn or GDI_ERROR (0xFFFFFFFF); GetObjectW fills a 24-byte BITMAP.
#pragma once

#include "emulator/Handles.h"

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace bench {

class FakeCoredll;

constexpr uint32_t SRCCOPY = 0x00CC0020;
constexpr uint32_t GDI_ERROR = 0xFFFFFFFF;
constexpr uint32_t DIB_RGB_COLORS = 0;
constexpr uint32_t BI_RGB = 0;
constexpr int WHITE_BRUSH = 0;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;

// 16 M pixels (64 MB as 32-bit pixels): the largest bitmap the device makes.
constexpr uint64_t kMaxSurfacePixels = 16u << 20;

// Pixels as 0x00RRGGBB, row 0 at the top.
struct Surface {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 32;  // 32, or 1 for a monochrome bitmap (black or white only)
    std::vector<uint32_t> pixels;

    static Surface filled(int width, int height, uint32_t color, int bitsPerPixel = 32);
    uint32_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    // Monochrome surfaces keep white and turn every other colour black, as
    // GDI converts to a 1-bit bitmap against a white background.
    void set(int x, int y, uint32_t color);
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct DibDraw {
    uint32_t dc = 0;
    int32_t x = 0, y = 0, width = 0, height = 0;           // destination
    int32_t srcX = 0, srcY = 0, srcWidth = 0, srcHeight = 0;
    uint32_t bits = 0;
    int32_t dibWidth = 0, dibHeight = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t result = 0;
};

class Gdi {
public:
    // A new bitmap's pixels, so that an area nobody drew stands out.
    static constexpr uint32_t kFreshBitmapColor = 0x00123456;
    static constexpr uint32_t kStockBase = 0x0B000000;  // stock object i is kStockBase + 4i
    static constexpr uint32_t kDefaultBitmap = 0x0B0000FC;  // the 1x1 monochrome bitmap of a new memory DC

    explicit Gdi(HandleLedger& handles);

    void setScreenSize(int width, int height);
    const Surface& screen() const { return screen_; }
    // A bitmap object over `surface`, tracked as acquired.
    uint32_t createBitmap(Surface surface, const std::string& note);
    const Surface* surfaceOf(uint32_t bitmap) const;
    // The bitmap selected into a DC (the default bitmap for a fresh memory DC).
    std::optional<uint32_t> selectedBitmap(uint32_t dc) const;
    const std::vector<DibDraw>& dibDraws() const { return dibDraws_; }

    // For the handlers.
    struct Dc {
        bool fromGetDc = false;  // a screen DC from GetDC, given back with ReleaseDC
        uint32_t bitmap = 0;     // memory DCs only
        uint32_t brush = 0;
    };
    struct Bitmap {
        Surface surface;
        uint32_t selectedInto = 0;
    };
    HandleLedger& handles() { return handles_; }
    std::map<uint32_t, Dc>& dcs() { return dcs_; }
    std::map<uint32_t, Bitmap>& bitmaps() { return bitmaps_; }
    Surface* target(uint32_t dc);  // the surface a DC draws on, or nullptr
    std::optional<uint32_t> brushColor(uint32_t brush) const;  // nullopt: not a brush; hollow gives nullopt too
    bool isBrush(uint32_t handle) const;
    bool isStock(uint32_t handle) const { return handle >= kStockBase && handle <= kDefaultBitmap; }
    void noteDibDraw(DibDraw draw) { dibDraws_.push_back(draw); }

private:
    HandleLedger& handles_;
    Surface screen_;
    Surface defaultBitmap_;
    std::map<uint32_t, Dc> dcs_;
    std::map<uint32_t, Bitmap> bitmaps_;
    std::vector<DibDraw> dibDraws_;
};

// Destination index i of a stretch over `destLength` takes source index
// floor((2i + 1) * sourceLength / (2 * destLength)): the source pixel under
// the destination pixel's centre. Tests predicting pixels use it too.
int nearestSource(int i, int destLength, int sourceLength);

void defineDrawing(FakeCoredll& fake);

}  // namespace bench
