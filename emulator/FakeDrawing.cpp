#include "emulator/FakeDrawing.h"

#include "emulator/Fake.h"

#include <algorithm>
#include <map>

namespace bench {
namespace {

constexpr uint32_t kWhite = 0x00FFFFFF;
constexpr int kStockCount = 20;
constexpr uint32_t kBitmapRecordSize = 24;  // BITMAP: type, width, height, widthBytes, planes, bitsPixel, bits
constexpr uint32_t kLogBrushSize = 12;

const uint32_t kStockBrushColors[5] = {0x00FFFFFF, 0x00C0C0C0, 0x00808080, 0x00404040, 0x00000000};

int32_t signedAt(const std::vector<uint8_t>& b, size_t at) {
    return int32_t(uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24);
}

uint32_t dibPixel(const std::vector<uint8_t>& row, int x, int bitCount) {
    if (bitCount == 32 || bitCount == 24) {
        size_t at = size_t(x) * size_t(bitCount / 8);
        return uint32_t(row[at + 2]) << 16 | uint32_t(row[at + 1]) << 8 | row[at];
    }
    // 16 bits without masks: X1R5G5B5, each field widened to 8 bits.
    uint32_t v = uint32_t(row[size_t(x) * 2]) | uint32_t(row[size_t(x) * 2 + 1]) << 8;
    auto widen5 = [](uint32_t f) { return (f << 3) | (f >> 2); };
    return widen5((v >> 10) & 31) << 16 | widen5((v >> 5) & 31) << 8 | widen5(v & 31);
}

// The destination indexes [first, end) of a draw of `length` pixels from
// `origin` that land inside a surface side of `side` pixels: every drawing
// call walks only these, so its time is bounded by the surface, whatever
// sizes the caller passes.
struct Span {
    int first = 0;
    int end = 0;
};

Span clipped(int32_t origin, int32_t length, int side) {
    int64_t first = std::max<int64_t>(0, -int64_t(origin));
    int64_t end = std::min<int64_t>(length, int64_t(side) - origin);
    if (end < first) end = first;
    return {int(first), int(end)};
}

// COLORREF is 0x00BBGGRR; surfaces hold 0x00RRGGBB.
uint32_t toColorRef(uint32_t rgb) { return (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF); }

}  // namespace

Surface Surface::filled(int width, int height, uint32_t color, int bitsPerPixel) {
    Surface s;
    s.width = width;
    s.height = height;
    s.bitsPerPixel = bitsPerPixel;
    s.pixels.assign(size_t(width) * size_t(height), 0);
    for (uint32_t& p : s.pixels) p = bitsPerPixel == 1 ? (color == kWhite ? kWhite : 0) : color & kWhite;
    return s;
}

void Surface::set(int x, int y, uint32_t color) {
    if (!contains(x, y)) return;
    color &= kWhite;
    if (bitsPerPixel == 1 && color != kWhite) color = 0;
    pixels[size_t(y) * size_t(width) + size_t(x)] = color;
}

int nearestSource(int i, int destLength, int sourceLength) {
    return int((2 * int64_t(i) + 1) * sourceLength / (2 * int64_t(destLength)));
}

Gdi::Gdi(HandleLedger& handles) : handles_(handles) {
    screen_ = Surface::filled(800, 480, 0);
    defaultBitmap_ = Surface::filled(1, 1, 0, 1);
}

void Gdi::setScreenSize(int width, int height) { screen_ = Surface::filled(width, height, 0); }

uint32_t Gdi::createBitmap(Surface surface, const std::string& note) {
    uint32_t handle = handles_.acquire(HandleKind::Bitmap, note);
    bitmaps_[handle] = Bitmap{std::move(surface), 0};
    return handle;
}

const Surface* Gdi::surfaceOf(uint32_t bitmap) const {
    if (bitmap == kDefaultBitmap) return &defaultBitmap_;
    auto it = bitmaps_.find(bitmap);
    return it == bitmaps_.end() ? nullptr : &it->second.surface;
}

std::optional<uint32_t> Gdi::selectedBitmap(uint32_t dc) const {
    auto it = dcs_.find(dc);
    if (it == dcs_.end() || it->second.fromGetDc) return std::nullopt;
    return it->second.bitmap;
}

Surface* Gdi::target(uint32_t dc) {
    auto it = dcs_.find(dc);
    if (it == dcs_.end()) return nullptr;
    if (it->second.fromGetDc) return &screen_;
    if (it->second.bitmap == kDefaultBitmap) return &defaultBitmap_;
    return &bitmaps_.at(it->second.bitmap).surface;
}

bool Gdi::isBrush(uint32_t handle) const { return handle >= kStockBase && handle <= kStockBase + 4 * NULL_BRUSH; }

std::optional<uint32_t> Gdi::brushColor(uint32_t brush) const {
    if (!isBrush(brush) || brush == kStockBase + 4 * NULL_BRUSH) return std::nullopt;
    return kStockBrushColors[(brush - kStockBase) / 4];
}

void defineDrawing(FakeCoredll& fake) {
    Gdi& gdi = fake.gdi();
    Memory& memory = fake.memory();

    // GetDC(hWnd): every window, and NULL, draws on the screen surface.
    fake.define("GetDC", 1, Outcome::returns(0), [&gdi](CallContext& call) -> uint32_t {
        uint32_t dc = gdi.handles().acquire(HandleKind::DC, call.arg(0) ? "window DC" : "screen DC");
        gdi.dcs()[dc] = Gdi::Dc{true, 0, Gdi::kStockBase + 4 * WHITE_BRUSH};
        return dc;
    });

    // ReleaseDC(hWnd, hDC): only for DCs from GetDC.
    fake.define("ReleaseDC", 2, Outcome::returns(0), [&gdi](CallContext& call) -> uint32_t {
        auto it = gdi.dcs().find(call.arg(1));
        if (it == gdi.dcs().end() || !it->second.fromGetDc) return 0;
        gdi.dcs().erase(it);
        gdi.handles().release(call.arg(1), HandleKind::DC);
        return 1;
    });

    // CreateCompatibleDC(hdc): a memory DC holding the 1x1 monochrome default bitmap.
    fake.define("CreateCompatibleDC", 1, Outcome::returns(0), [&gdi](CallContext& call) -> uint32_t {
        if (call.arg(0) && !gdi.dcs().count(call.arg(0))) return 0;
        uint32_t dc = gdi.handles().acquire(HandleKind::DC, "memory DC");
        gdi.dcs()[dc] = Gdi::Dc{false, Gdi::kDefaultBitmap, Gdi::kStockBase + 4 * WHITE_BRUSH};
        return dc;
    });

    // DeleteDC(hdc): memory DCs only; the selected bitmap is set free.
    fake.define("DeleteDC", 1, Outcome::returns(0), [&gdi](CallContext& call) -> uint32_t {
        auto it = gdi.dcs().find(call.arg(0));
        if (it == gdi.dcs().end() || it->second.fromGetDc) return 0;
        if (it->second.bitmap != Gdi::kDefaultBitmap) gdi.bitmaps().at(it->second.bitmap).selectedInto = 0;
        gdi.dcs().erase(it);
        gdi.handles().release(call.arg(0), HandleKind::DC);
        return 1;
    });

    // CreateCompatibleBitmap(hdc, cx, cy): the DC's format, which for a
    // memory DC still holding its default bitmap is monochrome.
    fake.define("CreateCompatibleBitmap", 3, Outcome::returns(0).withLastError(ERROR_NOT_ENOUGH_MEMORY),
                [&gdi](CallContext& call) -> uint32_t {
        auto it = gdi.dcs().find(call.arg(0));
        int32_t width = int32_t(call.arg(1)), height = int32_t(call.arg(2));
        if (it == gdi.dcs().end() || width <= 0 || height <= 0) {
            call.setLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if (uint64_t(width) * uint64_t(height) > kMaxSurfacePixels) {
            call.setLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        bool mono = !it->second.fromGetDc && it->second.bitmap == Gdi::kDefaultBitmap;
        Surface surface = mono ? Surface::filled(width, height, 0, 1)
                               : Surface::filled(width, height, Gdi::kFreshBitmapColor);
        return gdi.createBitmap(std::move(surface), std::to_string(width) + "x" + std::to_string(height) +
                                                        (mono ? " monochrome" : "") + " compatible bitmap");
    });

    // SelectObject(hdc, h): a bitmap goes into one memory DC at a time.
    fake.define("SelectObject", 2, Outcome::returns(0), [&gdi](CallContext& call) -> uint32_t {
        uint32_t dcHandle = call.arg(0), object = call.arg(1);
        auto it = gdi.dcs().find(dcHandle);
        if (it == gdi.dcs().end()) return 0;
        Gdi::Dc& dc = it->second;
        bool bitmap = object == Gdi::kDefaultBitmap || gdi.bitmaps().count(object);
        if (bitmap) {
            if (dc.fromGetDc) return 0;
            if (object != Gdi::kDefaultBitmap) {
                uint32_t holder = gdi.bitmaps().at(object).selectedInto;
                if (holder != 0 && holder != dcHandle) return 0;
            }
            uint32_t previous = dc.bitmap;
            if (previous != Gdi::kDefaultBitmap) gdi.bitmaps().at(previous).selectedInto = 0;
            dc.bitmap = object;
            if (object != Gdi::kDefaultBitmap) gdi.bitmaps().at(object).selectedInto = dcHandle;
            return previous;
        }
        if (gdi.isBrush(object)) {
            uint32_t previous = dc.brush;
            dc.brush = object;
            return previous;
        }
        // Pens, fonts and palettes are not modelled: the stock one stays.
        return gdi.isStock(object) ? object : 0;
    });

    // GetObjectW(h, c, pv)
    fake.define("GetObjectW", 3, Outcome::returns(0), [&gdi, &memory](CallContext& call) -> uint32_t {
        uint32_t object = call.arg(0), capacity = call.arg(1), out = call.arg(2);
        if (const Surface* s = gdi.surfaceOf(object)) {
            if (!out) return kBitmapRecordSize;
            if (capacity < kBitmapRecordSize) return 0;
            uint32_t widthBytes = uint32_t((s->width * s->bitsPerPixel + 15) / 16 * 2);
            memory.write32(out + 0, 0);
            memory.write32(out + 4, uint32_t(s->width));
            memory.write32(out + 8, uint32_t(s->height));
            memory.write32(out + 12, widthBytes);
            memory.write16(out + 16, 1);
            memory.write16(out + 18, uint16_t(s->bitsPerPixel));
            memory.write32(out + 20, 0);
            return kBitmapRecordSize;
        }
        if (gdi.isBrush(object)) {
            if (!out) return kLogBrushSize;
            if (capacity < kLogBrushSize) return 0;
            std::optional<uint32_t> color = gdi.brushColor(object);
            memory.write32(out + 0, color ? 0 : 1);  // BS_SOLID or BS_NULL
            memory.write32(out + 4, color ? toColorRef(*color) : 0);
            memory.write32(out + 8, 0);
            return kLogBrushSize;
        }
        return 0;
    });

    // GetStockObject(i)
    fake.define("GetStockObject", 1, Outcome::returns(0), [](CallContext& call) -> uint32_t {
        uint32_t index = call.arg(0);
        if (index >= kStockCount || index == 9) return 0;
        return Gdi::kStockBase + 4 * index;
    });

    // FillRect(hdc, lprc, hbr)
    fake.define("FillRect", 3, Outcome::returns(0), [&gdi, &memory](CallContext& call) -> uint32_t {
        Surface* surface = gdi.target(call.arg(0));
        if (!surface || !gdi.isBrush(call.arg(2))) return 0;
        std::vector<uint8_t> r = memory.readBytes(call.arg(1), 16);
        std::optional<uint32_t> color = gdi.brushColor(call.arg(2));
        if (!color) return 1;
        for (int y = std::max(0, signedAt(r, 4)); y < std::min(surface->height, signedAt(r, 12)); ++y)
            for (int x = std::max(0, signedAt(r, 0)); x < std::min(surface->width, signedAt(r, 8)); ++x)
                surface->set(x, y, *color);
        return 1;
    });

    // StretchBlt(hdcDest, xDest, yDest, wDest, hDest, hdcSrc, xSrc, ySrc, wSrc, hSrc, rop):
    // SRCCOPY with positive sizes; mirroring and other raster operations
    // are not modelled and fail.
    fake.define("StretchBlt", 11, Outcome::returns(0), [&gdi](CallContext& call) -> uint32_t {
        Surface* dest = gdi.target(call.arg(0));
        Surface* sourceSurface = gdi.target(call.arg(5));
        int32_t dx = int32_t(call.arg(1)), dy = int32_t(call.arg(2));
        int32_t dw = int32_t(call.arg(3)), dh = int32_t(call.arg(4));
        int32_t sx = int32_t(call.arg(6)), sy = int32_t(call.arg(7));
        int32_t sw = int32_t(call.arg(8)), sh = int32_t(call.arg(9));
        if (!dest || !sourceSurface || call.arg(10) != SRCCOPY || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0)
            return 0;
        Surface source = *sourceSurface;  // the two may be one surface
        const Span rows = clipped(dy, dh, dest->height), columns = clipped(dx, dw, dest->width);
        for (int j = rows.first; j < rows.end; ++j) {
            int srcRow = sy + nearestSource(j, dh, sh);
            for (int i = columns.first; i < columns.end; ++i) {
                int srcCol = sx + nearestSource(i, dw, sw);
                if (source.contains(srcCol, srcRow)) dest->set(dx + i, dy + j, source.at(srcCol, srcRow));
            }
        }
        return 1;
    });

    // StretchDIBits(hdc, xDest, yDest, DestWidth, DestHeight, xSrc, ySrc,
    //   SrcWidth, SrcHeight, lpBits, lpbmi, iUsage, rop)
    fake.define("StretchDIBits", 13, Outcome::returns(GDI_ERROR), [&gdi, &memory](CallContext& call) -> uint32_t {
        DibDraw draw;
        draw.dc = call.arg(0);
        draw.x = int32_t(call.arg(1));
        draw.y = int32_t(call.arg(2));
        draw.width = int32_t(call.arg(3));
        draw.height = int32_t(call.arg(4));
        draw.srcX = int32_t(call.arg(5));
        draw.srcY = int32_t(call.arg(6));
        draw.srcWidth = int32_t(call.arg(7));
        draw.srcHeight = int32_t(call.arg(8));
        draw.bits = call.arg(9);
        std::vector<uint8_t> header = memory.readBytes(call.arg(10), 40);
        draw.dibWidth = signedAt(header, 4);
        draw.dibHeight = signedAt(header, 8);
        draw.bitCount = uint16_t(header[14] | header[15] << 8);
        draw.compression = uint32_t(signedAt(header, 16));
        auto finish = [&gdi, &draw](uint32_t result) {
            draw.result = result;
            gdi.noteDibDraw(draw);
            return result;
        };

        Surface* dest = gdi.target(draw.dc);
        bool supported = uint32_t(signedAt(header, 0)) >= 40 && draw.dibWidth > 0 && draw.dibHeight != 0 &&
                         (header[12] | header[13] << 8) == 1 &&
                         (draw.bitCount == 16 || draw.bitCount == 24 || draw.bitCount == 32) &&
                         draw.compression == BI_RGB && call.arg(11) == DIB_RGB_COLORS && call.arg(12) == SRCCOPY;
        if (!dest || !supported || !draw.bits || draw.width <= 0 || draw.height <= 0 || draw.srcWidth <= 0 ||
            draw.srcHeight == 0 || draw.srcHeight == INT32_MIN)
            return finish(GDI_ERROR);
        // A negative source height (a sign unlike the destination's) draws
        // the source rectangle mirrored top to bottom, as GDI does.
        bool mirrored = draw.srcHeight < 0;
        int32_t srcHeight = mirrored ? -draw.srcHeight : draw.srcHeight;

        int height = draw.dibHeight < 0 ? -draw.dibHeight : draw.dibHeight;
        bool topDown = draw.dibHeight < 0;
        uint32_t stride = uint32_t((int64_t(draw.dibWidth) * draw.bitCount + 31) / 32 * 4);
        // A bottom-up DIB's source origin is its lower-left corner.
        int rectTop = topDown ? draw.srcY : height - (draw.srcY + srcHeight);
        std::map<int, std::vector<uint8_t>> rows;  // top-based row -> bytes
        for (int r = std::max(0, rectTop); r < std::min<int64_t>(height, int64_t(rectTop) + srcHeight); ++r) {
            uint32_t memoryRow = uint32_t(topDown ? r : height - 1 - r);
            rows[r] = memory.readBytes(draw.bits + memoryRow * stride, stride);
        }
        const Span destRows = clipped(draw.y, draw.height, dest->height);
        const Span destColumns = clipped(draw.x, draw.width, dest->width);
        for (int j = destRows.first; j < destRows.end; ++j) {
            int sourceRow = nearestSource(j, draw.height, srcHeight);
            auto row = rows.find(rectTop + (mirrored ? srcHeight - 1 - sourceRow : sourceRow));
            if (row == rows.end()) continue;
            for (int i = destColumns.first; i < destColumns.end; ++i) {
                int col = draw.srcX + nearestSource(i, draw.width, draw.srcWidth);
                if (col >= 0 && col < draw.dibWidth)
                    dest->set(draw.x + i, draw.y + j, dibPixel(row->second, col, draw.bitCount));
            }
        }
        return finish(uint32_t(rows.size()));
    });

    // DeleteObject(h): a bitmap still selected into a DC is not deleted.
    fake.define("DeleteObject", 1, Outcome::returns(0), [&gdi](CallContext& call) -> uint32_t {
        uint32_t object = call.arg(0);
        if (gdi.isStock(object)) return 1;
        auto it = gdi.bitmaps().find(object);
        if (it == gdi.bitmaps().end() || it->second.selectedInto != 0) return 0;
        gdi.bitmaps().erase(it);
        gdi.handles().release(object, HandleKind::Bitmap);
        return 1;
    });
}

}  // namespace bench
