// Fuzz target for the banner file checks: any accepted file must have every
// byte the draw will read inside the view. The address sanitizer flags a
// read past the exact-size copy of the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "module/banner/bannerFile.h"

namespace {

uint32_t touchPixelRows(const uint8_t* view, const BannerFile& file) {
    uint32_t bitCount = uint32_t(file.bitmapInfo[14] | file.bitmapInfo[15] << 8);
    uint32_t stride = (uint32_t(file.width) * bitCount + 31) / 32 * 4;
    uint32_t rows = uint32_t(file.height < 0 ? -int64_t(file.height) : file.height);
    uint32_t sum = 0;
    const uint8_t* pixels = view + file.pixelOffset;
    for (uint64_t i = 0; i < uint64_t(stride) * rows; ++i) sum += pixels[i];
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    std::unique_ptr<uint8_t[]> view(new uint8_t[size ? size : 1]);
    std::memcpy(view.get(), data, size);
    BannerFile file;
    if (readBannerFile(view.get(), uint32_t(size), file)) {
        volatile uint32_t sink = touchPixelRows(view.get(), file);
        (void)sink;
    }
    return 0;
}
