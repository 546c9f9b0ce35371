// Whether the device will draw a banner file, decided by the module's own
// check (banner/bannerFile), with the reason in words when it will not.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmark::cli {

struct BannerFileVerdict {
    bool drawable = false;
    std::string why;                    // when not drawable
    std::vector<std::string> warnings;  // drawable, but perhaps not as expected
    std::string description;            // "800 x 407, 24 bits per pixel, bottom-up"
};

BannerFileVerdict checkBannerFileBytes(const std::vector<uint8_t>& bytes);

}  // namespace velmark::cli
