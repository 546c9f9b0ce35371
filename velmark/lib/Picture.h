// Pixels on the PC side of banner-preview: pictures read from image files
// and the banner written as PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmark::cli {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, top row first
};

// Decodes `bytes`; `path` names them in errors.
Picture decodePicture(const std::vector<uint8_t>& bytes, const std::string& path);

// Any picture stb_image reads (BMP of 4 to 32 bits without RLE, PNG, ...).
// Throws Failure naming the file and the decoder's reason.
Picture readPicture(const std::string& path);

// Writes an 8-bit RGB PNG with libpng; throws Failure on failure.
void writePng(const std::string& path, const Picture& picture);

}  // namespace velmark::cli
