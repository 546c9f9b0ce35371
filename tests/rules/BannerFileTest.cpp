#include "module/banner/bannerFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tests/support/bitmapFiles.h"

namespace {

// Reads from a heap copy of exactly the file's bytes, so that the address
// sanitizer, where enabled, sees any read past the end; `viewOffset` 1 puts
// the view at an odd address.
bool drawable(const std::vector<uint8_t>& file, BannerFile* out = nullptr, size_t viewOffset = 0) {
    std::unique_ptr<uint8_t[]> storage(new uint8_t[viewOffset + file.size()]);
    uint8_t* view = storage.get() + viewOffset;
    std::memcpy(view, file.data(), file.size());
    BannerFile banner;
    bool ok = readBannerFile(view, uint32_t(file.size()), banner);
    if (out) *out = banner;
    return ok;
}

TEST(BannerFile, WellFormedFilesOfEveryDrawableDepthAreAccepted) {
    for (uint16_t bits : {16, 24, 32})
        for (int32_t height : {3, -3}) {
            BitmapFileShape shape;
            shape.bitCount = bits;
            shape.width = 5;
            shape.height = height;
            BannerFile banner;
            // Top-down files from an odd address: the headers copied by bytes, not halfwords.
            ASSERT_TRUE(drawable(makeBitmapFile(shape), &banner, height < 0)) << bits << " " << height;
            EXPECT_EQ(banner.width, 5);
            EXPECT_EQ(banner.height, height);
            EXPECT_EQ(banner.pixelOffset, 54u);
            EXPECT_EQ(std::memcmp(banner.bitmapInfo, makeBitmapFile(shape).data() + 14, 44), 0);
        }
}

TEST(BannerFile, PixelsMayLieAnywhereInsideTheFile) {
    BitmapFileShape shape;
    shape.pixelOffset = 200;
    EXPECT_TRUE(drawable(makeBitmapFile(shape)));
}

TEST(BannerFile, FilesTooShortForTheirHeadersAreRefused) {
    std::vector<uint8_t> file = makeBitmapFile({});
    for (size_t size : {0, 13, 14, 57}) EXPECT_FALSE(drawable({file.begin(), file.begin() + size})) << size;
}

TEST(BannerFile, PixelRowsBeyondTheEndAreRefused) {
    BitmapFileShape shape;
    shape.pixelBytes = bitmapStride(shape.width, shape.bitCount) * 2 - 1;
    EXPECT_FALSE(drawable(makeBitmapFile(shape)));
    BitmapFileShape offsetPastEnd;
    offsetPastEnd.pixelOffset = 0x7FFFFFFF;
    offsetPastEnd.pixelBytes = 0;
    std::vector<uint8_t> file = makeBitmapFile({});
    putLe(file, 10, 0xFFFFFFF0, 4);
    EXPECT_FALSE(drawable(file));
    putLe(file, 10, uint32_t(file.size()), 4);  // offset at the very end: no room for a row
    EXPECT_FALSE(drawable(file));
    BitmapFileShape largest;  // 2^34 bytes of rows: more than 32 bits can count
    largest.bitCount = 32;
    largest.width = largest.height = 0x10000;
    largest.pixelBytes = 64;
    EXPECT_FALSE(drawable(makeBitmapFile(largest)));
}

TEST(BannerFile, FormatsWhoseDrawReadsPastTheHeaderCopyAreRefused) {
    auto refused = [](BitmapFileShape shape) { return !drawable(makeBitmapFile(shape)); };
    for (uint16_t bits : {1, 4, 8, 0, 15, 48}) {
        BitmapFileShape shape;
        shape.bitCount = bits;
        EXPECT_TRUE(refused(shape)) << bits;
    }
    BitmapFileShape bitfields;
    bitfields.bitCount = 16;
    bitfields.compression = 3;
    EXPECT_TRUE(refused(bitfields));
    BitmapFileShape colourTable;
    colourTable.colorsUsed = 2;
    EXPECT_TRUE(refused(colourTable));
    BitmapFileShape v5Header;
    v5Header.infoSize = 124;
    EXPECT_TRUE(refused(v5Header));
}

TEST(BannerFile, ZeroOrAbsurdSidesAreRefused) {
    for (auto [w, h] : std::initializer_list<std::pair<int32_t, int32_t>>{
             {0, 2}, {4, 0}, {-4, 2}, {0x10001, 1}, {1, 0x10001}, {1, -0x10001}, {1, INT32_MIN}}) {
        std::vector<uint8_t> file = makeBitmapFile({});
        putLe(file, 18, uint32_t(w), 4);
        putLe(file, 22, uint32_t(h), 4);
        EXPECT_FALSE(drawable(file)) << w << "x" << h;
    }
}

TEST(BannerFile, FileSizeFailureValueIsNoSize) {
    std::vector<uint8_t> file = makeBitmapFile({});
    BannerFile banner;
    EXPECT_FALSE(readBannerFile(file.data(), 0xFFFFFFFF, banner));
}

}  // namespace
