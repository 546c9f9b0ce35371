// banner-preview runs the real module on the emulated device; its PNG must
// hold the banner pixel for pixel as predicted from the pictures given: the
// banner file stretched over 800 x 407, or the host bitmap's halves at the
// edges of a white field.
#include "tests/velmark/Subprocess.h"
#include "velmark/lib/BannerPreview.h"

#include "emulator/FakeDrawing.h"
#include "formats/exporttable/ExportTable.h"
#include "tests/support/bitmapFiles.h"

#include <gtest/gtest.h>
#include <png.h>

#include <functional>

namespace {

using namespace velmark::cli;
using namespace velmark::testing;

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr int kWidth = 800, kHeight = 407;

const velmark::ExportTable& table() {
    static const velmark::ExportTable t = velmark::ExportTable::load(VELMARK_TABLE);
    return t;
}

// Every pixel different in both coordinates, so a flip or a shift shows.
Picture gradient(int width, int height) {
    Picture p{width, height, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) p.pixels.push_back(uint32_t((x * 53 + 7) & 0xFF) << 16 | (y & 0xFF) << 8 | 0x40);
    return p;
}

// A 24-bit bottom-up BMP of the picture.
std::vector<uint8_t> bmp24(const Picture& p) {
    BitmapFileShape shape;
    shape.width = p.width;
    shape.height = p.height;
    std::vector<uint8_t> file = makeBitmapFile(shape);
    const uint32_t stride = bitmapStride(p.width, 24);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            uint32_t c = p.pixels[size_t(y) * p.width + x];
            uint8_t* at = file.data() + 54 + size_t(p.height - 1 - y) * stride + 3 * x;
            at[0] = uint8_t(c), at[1] = uint8_t(c >> 8), at[2] = uint8_t(c >> 16);
        }
    }
    return file;
}

Picture readPng(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) throw std::runtime_error(path + ": " + image.message);
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) throw std::runtime_error(image.message);
    Picture p{int(image.width), int(image.height), {}};
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) p.pixels.push_back(uint32_t(rgb[i]) << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
    return p;
}

// Counts the pixels that differ from the prediction; reports the first.
void expectPixels(const Picture& banner, const std::function<uint32_t(int, int)>& predicted) {
    ASSERT_EQ(banner.width, kWidth);
    ASSERT_EQ(banner.height, kHeight);
    size_t wrong = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            uint32_t want = predicted(x, y), got = banner.pixels[size_t(y) * kWidth + x];
            if (want != got && wrong++ == 0)
                ADD_FAILURE() << "first wrong pixel (" << x << ", " << y << "): " << std::hex << got << ", not " << want;
        }
    }
    EXPECT_EQ(wrong, 0u);
}

uint32_t stretched(const Picture& p, int x, int y) {
    return p.pixels[size_t(bench::nearestSource(y, kHeight, p.height)) * p.width +
                    bench::nearestSource(x, kWidth, p.width)];
}

TEST(BannerPreview, StretchesTheBannerFileOverTheWholeBanner) {
    const Picture file = gradient(5, 3), host = gradient(8, 407);
    BannerScene scene{VELMARK_DLL, host, bmp24(file)};  // the file wins over the host bitmap
    BannerPreview preview = previewBanner(scene, table());
    EXPECT_EQ(preview.howDrawn, "drawn from the banner file \\Windows\\app.bmp");
    expectPixels(preview.banner, [&](int x, int y) { return stretched(file, x, y); });
}

TEST(BannerPreview, ComposesTheHostBitmapsHalvesAtTheEdges) {
    // 8 x 407: halves of 4 columns, scaled by 407 / 407 to 4 columns each.
    const Picture host = gradient(8, 407);
    BannerPreview preview = previewBanner({VELMARK_DLL, host, std::nullopt}, table());
    EXPECT_EQ(preview.howDrawn, "no banner file, so the banner was composed from the host's bitmap 284");
    expectPixels(preview.banner, [&](int x, int y) {
        if (x < 4) return host.pixels[size_t(y) * 8 + x];
        if (x >= 796) return host.pixels[size_t(y) * 8 + 4 + (x - 796)];
        return kWhite;
    });

    // 3 x 2: each half is one column scaled to 407 / 2 * 1.5 = 305.25 -> 305
    // wide; the third column is in neither half.
    const Picture small = gradient(3, 2);
    preview = previewBanner({VELMARK_DLL, small, std::nullopt}, table());
    expectPixels(preview.banner, [&](int x, int y) {
        int row = bench::nearestSource(y, kHeight, 2);
        if (x < 305) return small.pixels[size_t(row) * 3];
        if (x >= 495) return small.pixels[size_t(row) * 3 + 1];
        return kWhite;
    });
}

TEST(BannerPreview, FallsBackWhenTheBannerFileCannotBeDrawn) {
    BitmapFileShape palettized;
    palettized.bitCount = 8;  // needs a colour table the module does not pass on
    const Picture host = gradient(8, 407);
    BannerPreview preview = previewBanner({VELMARK_DLL, host, makeBitmapFile(palettized)}, table());
    EXPECT_EQ(preview.howDrawn, "the banner file \\Windows\\app.bmp could not be drawn, so the banner was composed "
                                "from the host's bitmap 284");
    EXPECT_EQ(preview.banner.pixels[0], host.pixels[0]);
    EXPECT_EQ(preview.banner.pixels[400], kWhite);

    preview = previewBanner({VELMARK_DLL, std::nullopt, std::nullopt}, table());
    expectPixels(preview.banner, [](int, int) { return kWhite; });
}

TEST(BannerPreviewCommand, WritesThePngOfTheEmulatedBanner) {
    ScratchDir dir;
    const Picture file = gradient(6, 4);
    writeBytes(dir.path("app.bmp"), bmp24(file));
    RunResult r = runVelmark({"banner-preview", "--banner-file", dir.path("app.bmp"), "-o", dir.path("banner.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "drawn from the banner file \\Windows\\app.bmp\nwrote " + dir.path("banner.png") + " (800 x 407)\n");
    expectPixels(readPng(dir.path("banner.png")), [&](int x, int y) { return stretched(file, x, y); });

    // The host bitmap is read as a picture; a 24-bit BMP of 8 x 407 here.
    const Picture host = gradient(8, 407);
    writeBytes(dir.path("bitmap284.bmp"), bmp24(host));
    r = runVelmark({"banner-preview", "--exe-bitmap", dir.path("bitmap284.bmp"), "-o", dir.path("composed.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Picture composed = readPng(dir.path("composed.png"));
    EXPECT_EQ(composed.pixels[size_t(406) * kWidth + 799], host.pixels[size_t(406) * 8 + 7]);
    EXPECT_EQ(composed.pixels[size_t(200) * kWidth + 400], kWhite);
}

TEST(BannerPreviewCommand, FailuresNameTheFile) {
    ScratchDir dir;
    writeBytes(dir.path("notes.bmp"), {'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p'});
    RunResult r = runVelmark({"banner-preview", "--exe-bitmap", dir.path("notes.bmp"), "-o", dir.path("x.png")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(dir.path("notes.bmp") + ": cannot be read as a picture"), std::string::npos) << r.err;

    writeBytes(dir.path("fake.dll"), {'M', 'Z'});
    r = runVelmark({"banner-preview", "--dll", dir.path("fake.dll"), "-o", dir.path("x.png")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(dir.path("fake.dll")), std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(dir.path("x.png")));

    // A directory as --dll, a missing banner file, an empty output name.
    r = runVelmark({"banner-preview", "--dll", dir.path(""), "-o", dir.path("x.png")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(dir.path("") + ": cannot be used as --dll: it is a directory"), std::string::npos) << r.err;
    r = runVelmark({"banner-preview", "--banner-file", dir.path("absent.bmp"), "-o", dir.path("x.png")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(dir.path("absent.bmp") + ": cannot be read"), std::string::npos) << r.err;
    r = runVelmark({"banner-preview", "--exe-bitmap", dir.path("notes.bmp"), "-o", ""});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "velmark banner-preview: -o: the output file name is empty\n");
    EXPECT_EQ(runVelmark({"banner-preview"}).exitCode, 2);  // no -o
    EXPECT_FALSE(fileExists(dir.path("x.png")));
}

}  // namespace
