// Bitmap 284, of whichever module, is answered with one 800 × 407 banner,
// made on the first request and handed out for the life of the process.
#include "module/banner/DrawBannerFile.h"
#include "module/banner/bannerLayout.h"
#include "module/frame/ModuleState.h"
#include "module/frame/coredll.h"
#include "module/language/RedirectedLoad.h"

namespace {

constexpr uintptr_t kBannerBitmapId = 284;
constexpr int WHITE_BRUSH = 0;
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr int kBitmapRecordBytes = 24;

struct Rect {
    LONG left, top, right, bottom;
};

struct BitmapRecord {  // BITMAP: only the size is used
    LONG bmType, bmWidth, bmHeight, bmWidthBytes;
    uint16_t bmPlanes, bmBitsPixel;
    void* bmBits;
};

const WCHAR* bannerBitmapName() { return reinterpret_cast<const WCHAR*>(kBannerBitmapId); }

void stretchPiece(HDC target, HDC source, const BannerPiece& piece) {
    coredll::StretchBlt(target, piece.destX, piece.destY, piece.destWidth, piece.destHeight, source,
                        piece.sourceX, piece.sourceY, piece.sourceWidth, piece.sourceHeight, SRCCOPY);
}

// A white field with the halves of the host executable's own bitmap 284 at
// its edges; straight from the host executable, the language module is not asked.
void drawFallback(HDC screen, HDC banner) {
    HBITMAP hostBitmap = coredll::LoadBitmapW(coredll::GetModuleHandleW(nullptr), bannerBitmapName());
    const Rect whole = {0, 0, kBannerWidth, kBannerHeight};
    if (!hostBitmap) {  // nothing to draw from: the white field alone
        coredll::FillRect(banner, &whole, coredll::GetStockObject(WHITE_BRUSH));
        return;
    }
    BitmapRecord size = {};
    coredll::GetObjectW(hostBitmap, kBitmapRecordBytes, &size);
    HDC source = coredll::CreateCompatibleDC(screen);
    coredll::SelectObject(source, hostBitmap);
    coredll::FillRect(banner, &whole, coredll::GetStockObject(WHITE_BRUSH));
    BannerLayout layout = bannerLayout(size.bmWidth, size.bmHeight);
    stretchPiece(banner, source, layout.left);
    stretchPiece(banner, source, layout.right);  // drawn second: on top where they overlap
    coredll::DeleteDC(source);
    coredll::DeleteObject(hostBitmap);
}

HBITMAP composeBanner() {
    HDC screen = coredll::GetDC(nullptr);
    HDC memory = coredll::CreateCompatibleDC(screen);
    HBITMAP banner = coredll::CreateCompatibleBitmap(screen, kBannerWidth, kBannerHeight);
    if (banner) {
        coredll::SelectObject(memory, banner);
        if (!drawBannerFile(memory)) drawFallback(screen, memory);
    }
    coredll::DeleteDC(memory);  // the banner outlives the DC it was drawn in
    coredll::ReleaseDC(nullptr, screen);
    return banner;
}

// Two first requests at once each compose a banner; the first to publish
// wins, and the other deletes its own and hands out the winner's.
HBITMAP publishBanner(HBITMAP banner) {
    LONG previous = coredll::InterlockedCompareExchange(
        reinterpret_cast<LONG volatile*>(&moduleState.bannerBitmap), reinterpret_cast<LONG>(banner), 0);
    if (previous == 0) return banner;
    coredll::DeleteObject(banner);
    return reinterpret_cast<HBITMAP>(previous);
}

// Any other bitmap, and 284 when no banner can be made: the general way.
__attribute__((noinline)) HBITMAP loadGeneralWay(HINSTANCE instance, const WCHAR* name) {
    return redirectedLoad(coredll::LoadBitmapW, HBITMAP(nullptr), instance, name);
}

__attribute__((noinline)) HBITMAP firstBannerRequest(HINSTANCE instance, const WCHAR* name) {
    if (HBITMAP banner = composeBanner()) return publishBanner(banner);
    return loadGeneralWay(instance, name);
}

}  // namespace

// Everything but the test of bannerBitmap is out of line, so that a later
// request costs that test and no more: no frame, no register saved.
extern "C" HBITMAP LoadBitmapW(HINSTANCE instance, const WCHAR* name) {
    if (name != bannerBitmapName()) return loadGeneralWay(instance, name);
    if (HBITMAP banner = moduleState.bannerBitmap) return banner;
    return firstBannerRequest(instance, name);
}
