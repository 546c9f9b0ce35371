// The fake COREDLL's file mapping and drawing: views that end at a guard
// page, and real pixels from StretchDIBits and StretchBlt.
#include "emulator/Bench.h"

#include <gtest/gtest.h>

#include "tests/bench/fakeCalls.h"

namespace benchtest {
namespace {

using bench::Bench;
using bench::CallResult;
using bench::Placement;

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;

std::vector<uint8_t> infoHeader(int32_t width, int32_t height, uint16_t bitCount) {
    std::vector<uint8_t> h(40, 0);
    auto put = [&h](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) h[at + i] = uint8_t(v >> (8 * i));
    };
    put(0, 40);
    put(4, uint32_t(width));
    put(8, uint32_t(height));
    h[12] = 1;
    h[14] = uint8_t(bitCount);
    return h;
}

// A 2x2 picture, red green over blue white, as 24-bit rows (B, G, R, two pad bytes).
const std::vector<uint8_t> kTopRow = {0, 0, 0xFF, 0, 0xFF, 0, 0, 0};
const std::vector<uint8_t> kBottomRow = {0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0};

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Drawing : public ::testing::Test {
protected:
    void SetUp() override {
        screen = callOk(bench, "GetDC", {0});
        dc = callOk(bench, "CreateCompatibleDC", {screen});
        bitmap = callOk(bench, "CreateCompatibleBitmap", {screen, 4, 4});
        callOk(bench, "SelectObject", {dc, bitmap});
    }
    const bench::Surface& pixels() { return *bench.fake().gdi().surfaceOf(bitmap); }
    CallResult drawDib(uint32_t bits, uint32_t header, int32_t size, int32_t srcHeight = 2) {
        return bench.callCoredll("StretchDIBits", {dc, 0, 0, uint32_t(size), uint32_t(size), 0, 0, 2,
                                                   uint32_t(srcHeight), bits, header, bench::DIB_RGB_COLORS,
                                                   bench::SRCCOPY});
    }

    Bench bench;
    uint32_t screen = 0, dc = 0, bitmap = 0;
};

TEST_F(Drawing, StretchDibitsReadsBottomUpAndTopDownRows) {
    uint32_t bottomUp = bench.placeBytes(infoHeader(2, 2, 24), Placement::atEnd(2));
    uint32_t bits = bench.placeBytes(concat(kBottomRow, kTopRow), Placement::atEnd(1));
    CallResult drawn = drawDib(bits, bottomUp, 2);
    ASSERT_TRUE(drawn.ok()) << drawn.describe();
    EXPECT_EQ(drawn.r0, 2u);
    EXPECT_EQ(pixels().at(0, 0), kRed);
    EXPECT_EQ(pixels().at(1, 0), kGreen);
    EXPECT_EQ(pixels().at(0, 1), kBlue);
    EXPECT_EQ(pixels().at(1, 1), kWhite);
    EXPECT_EQ(pixels().at(2, 2), bench::Gdi::kFreshBitmapColor) << "drawn outside its rectangle";

    uint32_t topDown = bench.placeBytes(infoHeader(2, -2, 24));
    uint32_t topFirst = bench.placeBytes(concat(kTopRow, kBottomRow));
    drawn = drawDib(topFirst, topDown, 4);
    ASSERT_TRUE(drawn.ok()) << drawn.describe();
    // Stretched to 4x4, nearest neighbour: each source pixel covers 2x2.
    EXPECT_EQ(pixels().at(1, 1), kRed);
    EXPECT_EQ(pixels().at(2, 1), kGreen);
    EXPECT_EQ(pixels().at(1, 2), kBlue);
    EXPECT_EQ(pixels().at(3, 3), kWhite);
}

TEST_F(Drawing, ANegativeSourceHeightMirrorsTopToBottom) {
    // As a caller that passes biHeight of a top-down DIB as the source height.
    uint32_t topDown = bench.placeBytes(infoHeader(2, -2, 24));
    uint32_t topFirst = bench.placeBytes(concat(kTopRow, kBottomRow));
    CallResult drawn = drawDib(topFirst, topDown, 2, -2);
    ASSERT_TRUE(drawn.ok()) << drawn.describe();
    EXPECT_EQ(drawn.r0, 2u);
    EXPECT_EQ(pixels().at(0, 0), kBlue);
    EXPECT_EQ(pixels().at(1, 0), kWhite);
    EXPECT_EQ(pixels().at(0, 1), kRed);
    EXPECT_EQ(pixels().at(1, 1), kGreen);
}

TEST_F(Drawing, StretchDibitsFaultsOnRowsPastAGuardPage) {
    uint32_t header = bench.placeBytes(infoHeader(2, 2, 24));
    uint32_t oneRow = bench.placeBytes(kBottomRow, Placement::exactEnd());
    CallResult result = drawDib(oneRow, header, 2);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.fault->kind, bench::FaultKind::FakeFault) << result.describe();
    EXPECT_NE(result.fault->message.find("StretchDIBits"), std::string::npos) << result.fault->message;
}

TEST_F(Drawing, StretchDibitsRefusesWhatItCannotDraw) {
    uint32_t bits = bench.placeBytes(concat(kBottomRow, kTopRow));
    EXPECT_EQ(drawDib(bits, bench.placeBytes(infoHeader(2, 2, 8)), 2).r0, bench::GDI_ERROR);
    std::vector<uint8_t> compressed = infoHeader(2, 2, 24);
    compressed[16] = 1;  // BI_RLE8
    EXPECT_EQ(drawDib(bits, bench.placeBytes(compressed), 2).r0, bench::GDI_ERROR);
    EXPECT_EQ(drawDib(0, bench.placeBytes(infoHeader(2, 2, 24)), 2).r0, bench::GDI_ERROR);
}

TEST_F(Drawing, FillRectAndStretchBltPaintRealPixels) {
    uint32_t rect = bench.placeBytes({1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0}, Placement::atEnd(1));
    uint32_t white = callOk(bench, "GetStockObject", {bench::WHITE_BRUSH});
    EXPECT_EQ(callOk(bench, "FillRect", {dc, rect, white}), 1u);
    EXPECT_EQ(pixels().at(0, 0), bench::Gdi::kFreshBitmapColor);
    EXPECT_EQ(pixels().at(1, 0), kWhite);
    EXPECT_EQ(pixels().at(2, 0), kWhite);
    EXPECT_EQ(pixels().at(3, 0), bench::Gdi::kFreshBitmapColor);

    // Source columns 0-1 of row 0 stretched over a black 4x4: columns 0-1
    // take source column 0 (never painted), columns 2-3 source column 1 (white).
    uint32_t target = callOk(bench, "CreateCompatibleBitmap", {screen, 4, 4});
    uint32_t targetDc = callOk(bench, "CreateCompatibleDC", {screen});
    callOk(bench, "SelectObject", {targetDc, target});
    uint32_t whole = bench.placeBytes({0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0});
    callOk(bench, "FillRect", {targetDc, whole, callOk(bench, "GetStockObject", {bench::BLACK_BRUSH})});
    EXPECT_EQ(callOk(bench, "StretchBlt", {targetDc, 0, 0, 4, 4, dc, 0, 0, 2, 1, bench::SRCCOPY}), 1u);
    const bench::Surface& copied = *bench.fake().gdi().surfaceOf(target);
    EXPECT_EQ(copied.at(0, 3), bench::Gdi::kFreshBitmapColor);
    EXPECT_EQ(copied.at(1, 0), bench::Gdi::kFreshBitmapColor);
    EXPECT_EQ(copied.at(2, 0), kWhite);
    EXPECT_EQ(copied.at(3, 3), kWhite);
}

TEST_F(Drawing, BitmapsFollowTheRulesOfDeviceContexts) {
    uint32_t record = bench.allocate(24, Placement::atEnd(3));
    EXPECT_EQ(callOk(bench, "GetObjectW", {bitmap, 24, record}), 24u);
    EXPECT_EQ(bench.memory().read32(record + 4), 4u);
    EXPECT_EQ(bench.memory().read32(record + 8), 4u);
    EXPECT_EQ(bench.memory().read16(record + 18), 32u);

    // A fresh memory DC holds a monochrome bitmap, so does what is made compatible with it.
    uint32_t fresh = callOk(bench, "CreateCompatibleDC", {0});
    uint32_t mono = callOk(bench, "CreateCompatibleBitmap", {fresh, 2, 2});
    callOk(bench, "GetObjectW", {mono, 24, record});
    EXPECT_EQ(bench.memory().read16(record + 18), 1u);

    EXPECT_EQ(callOk(bench, "SelectObject", {fresh, bitmap}), 0u) << "a bitmap goes into one DC at a time";
    EXPECT_EQ(callOk(bench, "DeleteObject", {bitmap}), 0u) << "still selected";
    EXPECT_EQ(callOk(bench, "DeleteDC", {screen}), 0u) << "a GetDC DC is released, not deleted";
    EXPECT_EQ(callOk(bench, "DeleteDC", {dc}), 1u);
    EXPECT_EQ(callOk(bench, "DeleteObject", {bitmap}), 1u);
    EXPECT_EQ(callOk(bench, "ReleaseDC", {0, screen}), 1u);
}

TEST(FakeFiles, ViewsHoldTheFileAndEndAtAGuardPage) {
    Bench bench;
    std::vector<uint8_t> content = {'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8, 9};
    bench.fake().files().add(u"\\Windows\\app.bmp", content, /*readOnly=*/true);
    uint32_t path = bench.placeWString(u"\\Windows\\APP.bmp");
    uint32_t readWrite = bench::GENERIC_READ | bench::GENERIC_WRITE;
    bench::HandleLedger::Mark mark = bench.handles().mark();

    EXPECT_EQ(callOk(bench, "CreateFileForMappingW", {path, readWrite, 3, 0, bench::OPEN_EXISTING, 0x80, 0}),
              bench::INVALID_HANDLE_VALUE);
    EXPECT_EQ(bench.fake().errors().get(bench::FakeCoredll::kMainThread), bench::ERROR_ACCESS_DENIED);
    uint32_t absent = bench.placeWString(u"\\Windows\\none.bmp");
    EXPECT_EQ(callOk(bench, "CreateFileForMappingW", {absent, bench::GENERIC_READ, 3, 0, bench::OPEN_EXISTING, 0x80, 0}),
              bench::INVALID_HANDLE_VALUE);

    uint32_t file = callOk(bench, "CreateFileForMappingW", {path, bench::GENERIC_READ, 3, 0, bench::OPEN_EXISTING, 0x80, 0});
    ASSERT_NE(file, bench::INVALID_HANDLE_VALUE);
    uint32_t high = bench.allocate(4, Placement::atEnd(1));
    EXPECT_EQ(callOk(bench, "GetFileSize", {file, high}), content.size());
    EXPECT_EQ(callOk(bench, "CreateFileMappingW", {file, 0, bench::PAGE_READWRITE, 0, 0, 0}), 0u);
    uint32_t mapping = callOk(bench, "CreateFileMappingW", {file, 0, bench::PAGE_READONLY, 0, 0, 0});
    ASSERT_NE(mapping, 0u);
    EXPECT_EQ(callOk(bench, "MapViewOfFile", {mapping, bench::FILE_MAP_WRITE, 0, 0, 0}), 0u);
    uint32_t view = callOk(bench, "MapViewOfFile", {mapping, bench::FILE_MAP_READ, 0, 0, 0});
    ASSERT_NE(view, 0u);
    EXPECT_EQ(bench.memory().readBytes(view, uint32_t(content.size())), content);
    EXPECT_FALSE(bench.memory().isMapped(view + uint32_t(content.size())));
    EXPECT_FALSE(bench.memory().has(view, uint32_t(content.size()), bench::kWrite));

    EXPECT_EQ(callOk(bench, "UnmapViewOfFile", {view}), 1u);
    EXPECT_EQ(callOk(bench, "UnmapViewOfFile", {view}), 0u);
    EXPECT_EQ(callOk(bench, "CloseHandle", {mapping}), 1u);
    EXPECT_EQ(callOk(bench, "CloseHandle", {file}), 1u);
    EXPECT_EQ(callOk(bench, "CloseHandle", {file}), 0u);
    EXPECT_TRUE(bench.handles().openSince(mark).empty()) << bench::HandleLedger::describe(bench.handles().openSince(mark));
}

TEST(FakeFiles, AMappingMayExtendOnlyAWritableFileAndOnlySoFar) {
    Bench bench;
    bench.fake().files().add(u"\\data.bin", {1, 2, 3});
    uint32_t path = bench.placeWString(u"\\data.bin");
    uint32_t readWrite = bench::GENERIC_READ | bench::GENERIC_WRITE;
    uint32_t file = callOk(bench, "CreateFileForMappingW", {path, readWrite, 0, 0, bench::OPEN_EXISTING, 0x80, 0});
    // GetFileSize's failure value taken for a size must not fit.
    EXPECT_EQ(callOk(bench, "CreateFileMappingW", {file, 0, bench::PAGE_READWRITE, 0, 0xFFFFFFFF, 0}), 0u);
    uint32_t mapping = callOk(bench, "CreateFileMappingW", {file, 0, bench::PAGE_READWRITE, 0, 8, 0});
    ASSERT_NE(mapping, 0u);
    EXPECT_EQ(bench.fake().files().find(u"\\DATA.BIN")->bytes, (std::vector<uint8_t>{1, 2, 3, 0, 0, 0, 0, 0}));
    uint32_t view = callOk(bench, "MapViewOfFile", {mapping, bench::FILE_MAP_WRITE, 0, 0, 0});
    ASSERT_NE(view, 0u);
    bench.memory().write8(view + 7, 9);
    callOk(bench, "UnmapViewOfFile", {view});
    EXPECT_EQ(bench.fake().files().find(u"\\data.bin")->bytes[7], 9) << "writes through a view reach the file";
}

}  // namespace
}  // namespace benchtest
