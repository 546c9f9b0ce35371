// The banner file's headers, read out of the mapped view and checked before
// any pixel is drawn. The draw is given a 44-byte BITMAPINFO (the 40-byte
// info header and one colour entry) and the pixel rows in place, so only a
// file whose draw reads nothing beyond those can be drawn: uncompressed 16,
// 24 or 32 bits per pixel, a 40-byte info header, no colour table, and
// every pixel row inside the file.
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

// Fills `file` from a view of `size` bytes and returns true when it can be
// drawn; returns false, having read nothing beyond the view, when not.
bool readBannerFile(const uint8_t* view, uint32_t size, BannerFile& file);
