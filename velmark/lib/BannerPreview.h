// The banner a device shows for bitmap 284, made by the real VELMARK.dll
// running on the emulated device: the host executable's bitmap 284 and the
// banner file beside it go into the fake COREDLL, the module is loaded and
// asked for LoadBitmapW(host, 284), and the bitmap it answers is read back
// from the fake's drawing surfaces.
#pragma once

#include "formats/exporttable/ExportTable.h"
#include "velmark/lib/Picture.h"

#include <optional>
#include <string>
#include <vector>

namespace velmark::cli {

struct BannerScene {
    std::string dllPath;                          // the VELMARK.dll to run
    std::optional<Picture> hostBitmap;            // the host executable's bitmap 284
    std::optional<std::vector<uint8_t>> bannerFile;  // the .bmp beside the host executable
};

struct BannerPreview {
    Picture banner;        // 800 x 407
    std::string howDrawn;  // which way the module took, for the user
};

// Throws Failure when the module cannot be loaded or run, or does not
// answer with an 800 x 407 bitmap.
BannerPreview previewBanner(const BannerScene& scene, const velmark::ExportTable& table);

}  // namespace velmark::cli
