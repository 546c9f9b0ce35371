#include "velmark/lib/Picture.h"

#include "emulator/FakeDrawing.h"
#include "velmark/lib/Failure.h"
#include "velmark/lib/FileIo.h"

#include <png.h>
#include <stb/stb_image.h>

#include <climits>
#include <memory>

namespace velmark::cli {

Picture decodePicture(const std::vector<uint8_t>& bytes, const std::string& path) {
    if (bytes.size() > size_t(INT_MAX)) throw Failure(path + ": too large to be a picture");
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(bytes.data(), int(bytes.size()), &width, &height, &channels))
        throw Failure(path + ": cannot be read as a picture: " + stbi_failure_reason());
    // Checked before decoding: a small compressed file can claim any size.
    if (uint64_t(width) * uint64_t(height) > bench::kMaxSurfacePixels)
        throw Failure(path + ": the picture is " + std::to_string(width) + " x " + std::to_string(height) +
                           ", more than the " + std::to_string(bench::kMaxSurfacePixels) + " pixels a bitmap can have here");
    std::unique_ptr<stbi_uc, void (*)(void*)> rgb(
        stbi_load_from_memory(bytes.data(), int(bytes.size()), &width, &height, &channels, 3), stbi_image_free);
    if (!rgb) throw Failure(path + ": cannot be read as a picture: " + stbi_failure_reason());
    Picture picture{width, height, std::vector<uint32_t>(size_t(width) * size_t(height))};
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
        const stbi_uc* p = rgb.get() + 3 * i;
        picture.pixels[i] = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
    return picture;
}

Picture readPicture(const std::string& path) { return decodePicture(readWholeFile(path), path); }

void writePng(const std::string& path, const Picture& picture) {
    std::vector<uint8_t> rgb;
    rgb.reserve(picture.pixels.size() * 3);
    for (uint32_t pixel : picture.pixels) rgb.insert(rgb.end(), {uint8_t(pixel >> 16), uint8_t(pixel >> 8), uint8_t(pixel)});

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(picture.width);
    image.height = png_uint_32(picture.height);
    image.format = PNG_FORMAT_RGB;
    // Written beside the destination and renamed, like every other output.
    std::vector<uint8_t> encoded;
    png_alloc_size_t size = 0;
    if (png_image_write_get_memory_size(image, size, 0, rgb.data(), 0, nullptr)) {
        encoded.resize(size);
        if (!png_image_write_to_memory(&image, encoded.data(), &size, 0, rgb.data(), 0, nullptr)) encoded.clear();
        encoded.resize(size);
    }
    if (encoded.empty()) {
        std::string reason = image.message[0] ? image.message : "libpng failed";
        png_image_free(&image);
        throw Failure(path + ": cannot be encoded as PNG: " + reason);
    }
    writeWholeFile(path, encoded);
}

}  // namespace velmark::cli
