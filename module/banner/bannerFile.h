// The banner file's headers, read out of the mapped view and checked before
// any pixel is drawn. The draw is given a 44-byte BITMAPINFO (the 40-byte
// info header and one colour entry) and the pixel rows in place, so only a
// file whose draw reads nothing beyond those can be drawn: uncompressed 16,
// 24 or 32 bits per pixel, a 40-byte info header, no colour table, and
// every pixel row inside the file. The host tools run the same check to say
// why a file will not be drawn.
#pragma once

#include <stdint.h>

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kBitmapInfoBytes = 44;  // BITMAPINFOHEADER and one RGBQUAD

struct BannerFile {
    alignas(4) uint8_t bitmapInfo[kBitmapInfoBytes];  // aligned copy handed to the draw
    uint32_t pixelOffset;                             // bfOffBits
    int32_t width;                                    // biWidth
    int32_t height;                                   // biHeight; negative rows run top-down
};

// Why a file cannot be drawn; the first check that fails.
enum class BannerFileProblem : uint8_t {
    None,
    TooShort,        // smaller than the file header and the 44 bytes behind it
    InfoHeaderSize,  // biSize is not 40
    Compressed,      // biCompression is not BI_RGB
    ColourTable,     // biClrUsed is not 0
    BitCount,        // not 16, 24 or 32 bits per pixel
    Width,           // not 1 to 65536
    Height,          // 0, or beyond 65536 either way
    PixelsOutside,   // bfOffBits or the pixel rows run past the end of the file
};

// Fills `file` from a view of `size` bytes and says why it cannot be drawn,
// or None; reads nothing beyond the view.
BannerFileProblem checkBannerFile(const uint8_t* view, uint32_t size, BannerFile& file);

// True when the file can be drawn.
bool readBannerFile(const uint8_t* view, uint32_t size, BannerFile& file);
