// The banner composed from the host executable's own bitmap 284 when there
// is no usable banner file: its pixels for several host bitmap sizes, a host
// without the bitmap, malformed banner files, and every platform call of
// the composition failing in turn.
#include "tests/device/bannerDevice.h"

#include <gtest/gtest.h>

#include <functional>

namespace bannertest {
namespace {

using bench::HandleKind;

bool isWhiteColumn(const Surface& s, int x) {
    for (int y = 0; y < s.height; ++y)
        if (s.at(x, y) != kWhite) return false;
    return true;
}

TEST(BannerFallback, HostBitmapHalvesStandAtTheEdgesOfAWhiteField) {
    struct Case {
        int width, height, scaledHalfWidth;
    };
    const Case cases[] = {{800, 407, 400}, {400, 407, 200}, {240, 407, 120},
                          {320, 240, 271}, {240, 120, 407}, {198, 99, 406}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        Device device;
        device.giveHostBitmap(c.width, c.height);
        auto mark = device.bench.handles().mark();
        CallResult banner = requestOk(device, device.host());
        const Surface* pixels = device.surface(banner.r0);
        ASSERT_NE(pixels, nullptr);
        EXPECT_TRUE(samePixels(pixels, expectedFallback(c.width, c.height, c.scaledHalfWidth)));

        int s = c.scaledHalfWidth;
        if (2 * s < kBannerWidth) {  // white exactly from s to 800 - s
            EXPECT_FALSE(isWhiteColumn(*pixels, s - 1));
            EXPECT_TRUE(isWhiteColumn(*pixels, s));
            EXPECT_TRUE(isWhiteColumn(*pixels, kBannerWidth - s - 1));
            EXPECT_FALSE(isWhiteColumn(*pixels, kBannerWidth - s));
        } else {  // no white; the right piece covers the overlap
            for (int x = 0; x < kBannerWidth; ++x) EXPECT_FALSE(isWhiteColumn(*pixels, x)) << "column " << x;
            int half = c.width / 2;
            for (int x = kBannerWidth - s; x < s; ++x)
                EXPECT_EQ(pixels->at(x, 0), hostColor(half + bench::nearestSource(x - (kBannerWidth - s), s, half), 0))
                    << "column " << x;
        }
        EXPECT_EQ(openSince(device, mark), std::set<uint32_t>{banner.r0}) << describeOpen(device, mark);
    }
}

// The language module's bitmap 284 is not asked for: the fall-back is the host's own.
TEST(BannerFallback, WithoutAHostBitmapTheBannerIsTheWhiteFieldAlone) {
    Device device({kHostPath, true});
    device.bench.fake().resources().of(kLanguagePath).bitmap(kBannerId, hostPicture(400, 407));
    auto mark = device.bench.handles().mark();
    CallResult banner = requestOk(device, device.host());
    ASSERT_NE(banner.r0, 0u);
    EXPECT_TRUE(samePixels(device.surface(banner.r0), Surface::filled(kBannerWidth, kBannerHeight, kWhite)));
    EXPECT_EQ(device.coredllLoads(), (std::vector<std::pair<uint32_t, uint32_t>>{{device.host(), kBannerId}}));
    EXPECT_EQ(device.bench.fake().countOf("StretchBlt"), 0u) << "drawn from a null bitmap";
    EXPECT_EQ(device.bench.fake().countOf("GetObjectW"), 0u);
    EXPECT_EQ(device.bench.fake().countOf("FillRect"), 1u);
    EXPECT_EQ(openSince(device, mark), std::set<uint32_t>{banner.r0}) << describeOpen(device, mark);
}

std::vector<uint8_t> malformed(const std::function<void(BitmapFileShape&)>& tweak) {
    BitmapFileShape shape;
    shape.width = 4;
    shape.height = 2;
    tweak(shape);
    return makeBitmapFile(shape);
}

std::vector<uint8_t> withField(std::vector<uint8_t> file, size_t at, uint32_t value) {
    putLe(file, at, value, 4);
    return file;
}

// Every file here would make the draw read past the file's end or past the
// 44 header bytes handed to it; each view ends right at a guard page.
TEST(BannerFallback, MalformedBannerFilesAreRefusedBeforeTheDraw) {
    const std::vector<uint8_t> good = malformed([](BitmapFileShape&) {});
    const uint32_t stride = bitmapStride(4, 24);
    const std::pair<const char*, std::vector<uint8_t>> corpus[] = {
        {"empty", {}},
        {"file header only", {good.begin(), good.begin() + 14}},
        {"one byte short of the info header and its colour", {good.begin(), good.begin() + 57}},
        {"bfOffBits far beyond the end", withField(good, 10, 0xFFFFFFF0)},
        {"bfOffBits at the very end", withField(good, 10, uint32_t(good.size()))},
        {"last row one byte short", malformed([&](BitmapFileShape& s) { s.pixelBytes = 2 * stride - 1; })},
        {"top-down rows beyond the end", malformed([&](BitmapFileShape& s) {
             s.height = -3;
             s.pixelBytes = 2 * stride;
         })},
        {"8 bits with a palette", malformed([](BitmapFileShape& s) {
             s.bitCount = 8;
             s.colorsUsed = 256;
             s.pixelOffset = 54 + 1024;
         })},
        {"8 bits run-length encoded", malformed([](BitmapFileShape& s) {
             s.bitCount = 8;
             s.compression = 1;
         })},
        {"16 bits with bit fields", malformed([](BitmapFileShape& s) {
             s.bitCount = 16;
             s.compression = 3;
             s.pixelOffset = 54 + 12;
         })},
        {"V5 info header", malformed([](BitmapFileShape& s) {
             s.infoSize = 124;
             s.pixelOffset = 14 + 124;
         })},
        {"zero width", malformed([](BitmapFileShape& s) { s.width = 0; })},
        {"zero height", malformed([](BitmapFileShape& s) { s.height = 0; })},
        {"negative width", malformed([](BitmapFileShape& s) {
             s.width = -4;
             s.pixelBytes = 64;
         })},
        {"absurd width", malformed([](BitmapFileShape& s) {
             s.width = 0x7FFFFFFF;
             s.pixelBytes = 64;
         })},
        {"absurd height", malformed([](BitmapFileShape& s) {
             s.height = 0x40000000;
             s.pixelBytes = 64;
         })},
        {"most negative height", malformed([](BitmapFileShape& s) {
             s.height = int32_t(0x80000000);
             s.pixelBytes = 64;
         })},
    };
    for (const auto& [what, file] : corpus) {
        SCOPED_TRACE(what);
        Device device;
        ASSERT_EQ(device.bench.fake().files().placement(), bench::FileSystem::ViewPlacement::EndAtGuard);
        device.giveHostBitmap(240, 407);
        device.putBannerFile(file);
        auto mark = device.bench.handles().mark();
        CallResult banner = requestOk(device, device.host());
        EXPECT_EQ(device.bench.fake().countOf("StretchDIBits"), 0u);
        EXPECT_TRUE(samePixels(device.surface(banner.r0), expectedFallback(240, 407, 120)));
        for (const bench::LoggedCall& view : device.bench.fake().callsTo("MapViewOfFile"))
            EXPECT_EQ((view.result + file.size()) % bench::kPageSize, 0u) << "the view does not end at a guard page";
        EXPECT_EQ(openSince(device, mark), std::set<uint32_t>{banner.r0}) << describeOpen(device, mark);
    }
}

// Handles that a release call was given and, for a device context, the
// bitmap still selected into it: what a failing release leaves open.
std::set<uint32_t> leftOpenByFailedRelease(Device& device, const bench::LoggedCall& failed) {
    std::set<uint32_t> left;
    if (failed.name == "DeleteDC" || failed.name == "ReleaseDC") {
        uint32_t dc = failed.args[failed.name == "ReleaseDC" ? 1 : 0];
        left.insert(dc);
        if (auto bitmap = device.bench.fake().gdi().selectedBitmap(dc)) left.insert(*bitmap);
    } else if (failed.name == "DeleteObject" || failed.name == "CloseHandle" || failed.name == "UnmapViewOfFile") {
        left.insert(failed.args[0]);
    }
    left.erase(bench::Gdi::kDefaultBitmap);
    return left;
}

TEST(BannerFaults, EveryPlatformCallOfTheCompositionMayFail) {
    const std::pair<const char*, std::function<void(Device&)>> scenarios[] = {
        {"banner file", [](Device& d) {
             d.giveHostBitmap(240, 407);
             d.putBannerFile(malformed([](BitmapFileShape&) {}));
         }},
        {"fall-back", [](Device& d) { d.giveHostBitmap(240, 407); }},
    };
    for (const auto& [scenario, setUp] : scenarios) {
        std::vector<std::string> composition;
        {
            Device reference;
            setUp(reference);
            reference.bench.fake().clearLog();
            ASSERT_TRUE(reference.request(reference.host()).ok());
            for (const bench::LoggedCall& call : reference.bench.fake().calls())
                // It has no failure: the device's compare-exchange always takes place.
                if (call.name != "InterlockedCompareExchange") composition.push_back(call.name);
        }
        ASSERT_GE(composition.size(), 15u) << scenario;

        std::map<std::string, unsigned> seen;
        for (const std::string& name : composition) {
            unsigned nth = ++seen[name];
            SCOPED_TRACE(std::string(scenario) + ": call " + std::to_string(nth) + " of " + name + " fails");
            Device device;
            setUp(device);
            auto mark = device.bench.handles().mark();
            device.bench.fake().failOnCall(name, nth);
            CallResult first = device.request(device.host());
            ASSERT_TRUE(first.ok()) << first.describe();
            ASSERT_NE(first.r0, 0u);

            const bench::LoggedCall* failed = nullptr;
            for (const bench::LoggedCall& call : device.bench.fake().calls())
                if (call.injected) failed = &call;
            ASSERT_NE(failed, nullptr) << "the failure was not reached";
            std::set<uint32_t> allowed = leftOpenByFailedRelease(device, *failed);
            allowed.insert(first.r0);
            EXPECT_EQ(openSince(device, mark), allowed) << describeOpen(device, mark);

            // Banner or not, the next request is served without fault.
            const Surface* picture = device.surface(first.r0);
            ASSERT_NE(picture, nullptr);
            bool published = picture->width == kBannerWidth;
            EXPECT_EQ(published, name != "CreateCompatibleBitmap" && name != "GetDC");
            device.bench.fake().clearLog();
            CallResult next = device.request(device.host());
            ASSERT_TRUE(next.ok()) << next.describe();
            if (published) {
                EXPECT_EQ(next.r0, first.r0);
                EXPECT_TRUE(device.bench.fake().calls().empty());
            } else {
                EXPECT_EQ(device.bench.fake().countOf("CreateCompatibleBitmap"), 1u);
                ASSERT_NE(device.surface(next.r0), nullptr);
                EXPECT_EQ(device.surface(next.r0)->width, kBannerWidth);
            }
        }
    }
}

}  // namespace
}  // namespace bannertest
