// A device for the banner tests: the real VELMARK.dll loaded against the
// fake COREDLL, with a host executable, its bitmap 284, a banner file and
// optionally a language module; and the pictures the banner must hold.
#pragma once

#include "emulator/Bench.h"
#include "emulator/Utf16.h"
#include "tests/support/bitmapFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace bannertest {

using bench::Bench;
using bench::CallResult;
using bench::Surface;

constexpr uint32_t kBannerId = 284;
constexpr int kBannerWidth = 800;
constexpr int kBannerHeight = 407;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr const char16_t* kHostPath = u"\\Windows\\app.exe";
constexpr const char16_t* kLanguagePath = u"\\Windows\\app.exe.0409.mui";

// The host's bitmap 284: every pixel its own colour, none white and none
// the colour of an undrawn bitmap.
inline uint32_t hostColor(int x, int y) { return uint32_t(x + 1) << 10 | uint32_t(y); }

inline Surface hostPicture(int width, int height) {
    Surface s = Surface::filled(width, height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) s.set(x, y, hostColor(x, y));
    return s;
}

inline std::u16string bannerPathOf(std::u16string hostPath) {
    hostPath.replace(hostPath.size() - 3, 3, u"bmp");
    return hostPath;
}

struct DeviceSetup {
    std::u16string hostPath = kHostPath;
    bool languageModule = false;
};

class Device {
public:
    explicit Device(const DeviceSetup& setup = {}) : hostPath_(setup.hostPath) {
        bench.fake().modules().setHost(hostPath_);
        if (setup.languageModule) {
            bench.fake().registry().setDword(u"MUI", u"Enable", 1);
            bench.fake().files().add(kLanguagePath, {0x4D, 0x5A});
        }
        bench.load(VELMARK_DLL_PATH);
    }

    uint32_t host() { return bench.fake().modules().hostHandle(); }
    const std::u16string& hostPath() const { return hostPath_; }

    void giveHostBitmap(int width, int height) {
        bench.fake().resources().of(hostPath_).bitmap(kBannerId, hostPicture(width, height));
    }
    void putBannerFile(std::vector<uint8_t> bytes, bool readOnly = false) {
        bench.fake().files().add(bannerPathOf(hostPath_), std::move(bytes), readOnly);
    }
    // A library beside the host, loaded by the application.
    uint32_t loadLibrary(const std::u16string& path) {
        bench.fake().files().add(path, {0x4D, 0x5A});
        return bench.fake().modules().load(path);
    }

    // LoadBitmapW through the module's export; the name is an identifier or
    // the address of a string.
    CallResult request(uint32_t instance, uint32_t name = kBannerId) {
        return bench.tryCall("LoadBitmapW", {instance, name});
    }
    const Surface* surface(uint32_t bitmap) { return bench.fake().gdi().surfaceOf(bitmap); }

    // (instance, name) of every call that reached COREDLL's LoadBitmapW.
    std::vector<std::pair<uint32_t, uint32_t>> coredllLoads() {
        std::vector<std::pair<uint32_t, uint32_t>> loads;
        for (const bench::LoggedCall& call : bench.fake().callsTo("LoadBitmapW"))
            loads.emplace_back(call.args[0], call.args[1]);
        return loads;
    }

    Bench bench;

private:
    std::u16string hostPath_;
};

// A request that must run without a fault.
inline CallResult requestOk(Device& device, uint32_t instance, uint32_t name = kBannerId) {
    CallResult result = device.request(instance, name);
    EXPECT_TRUE(result.ok()) << result.describe();
    return result;
}

// ---- Expected pictures ------------------------------------------------------

// The banner file stretched over 800 x 407, nearest neighbour as the fake
// draws: the source pixel under each destination pixel's centre. The draw
// is given biHeight as the source height, so a top-down file (negative
// biHeight) is drawn mirrored, as GDI mirrors when the source and
// destination heights differ in sign: its first row in the file ends up
// at the bottom, as a bottom-up file's does.
inline Surface expectedFromFile(const std::vector<uint8_t>& file) {
    auto le = [&file](size_t at, int bytes) {
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= uint32_t(file[at + i]) << (8 * i);
        return v;
    };
    uint32_t offset = le(10, 4);
    int32_t width = int32_t(le(18, 4)), height = int32_t(le(22, 4));
    int bitCount = int(le(28, 2));
    int rows = height < 0 ? -height : height;
    uint32_t stride = bitmapStride(width, uint16_t(bitCount));
    Surface s = Surface::filled(kBannerWidth, kBannerHeight, 0);
    for (int y = 0; y < kBannerHeight; ++y) {
        int row = bench::nearestSource(y, kBannerHeight, rows);
        size_t rowStart = offset + size_t(rows - 1 - row) * stride;
        for (int x = 0; x < kBannerWidth; ++x) {
            size_t at = rowStart + size_t(bench::nearestSource(x, kBannerWidth, width)) * size_t(bitCount / 8);
            uint32_t color;
            if (bitCount == 16) {  // X1R5G5B5, each field widened to 8 bits
                uint32_t v = le(at, 2);
                auto widen = [](uint32_t f) { return f << 3 | f >> 2; };
                color = widen(v >> 10 & 31) << 16 | widen(v >> 5 & 31) << 8 | widen(v & 31);
            } else {
                color = uint32_t(file[at + 2]) << 16 | uint32_t(file[at + 1]) << 8 | file[at];
            }
            s.set(x, y, color);
        }
    }
    return s;
}

// The fall-back for a host bitmap of width x height whose scaled half width
// is `scaled`: white, the left half at the left edge, the right half at
// the right edge drawn last.
inline Surface expectedFallback(int width, int height, int scaled) {
    Surface s = Surface::filled(kBannerWidth, kBannerHeight, kWhite);
    int half = width / 2;
    if (half == 0 || scaled == 0) return s;
    for (int piece = 0; piece < 2; ++piece) {
        int destX = piece == 0 ? 0 : kBannerWidth - scaled;
        for (int y = 0; y < kBannerHeight; ++y) {
            int row = bench::nearestSource(y, kBannerHeight, height);
            for (int i = 0; i < scaled; ++i)
                s.set(destX + i, y, hostColor(piece * half + bench::nearestSource(i, scaled, half), row));
        }
    }
    return s;
}

inline ::testing::AssertionResult samePixels(const Surface* actual, const Surface& expected) {
    if (!actual) return ::testing::AssertionFailure() << "no such bitmap";
    if (actual->width != expected.width || actual->height != expected.height)
        return ::testing::AssertionFailure() << "size " << actual->width << "x" << actual->height << ", expected "
                                             << expected.width << "x" << expected.height;
    size_t wrong = 0;
    std::string first;
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
            if (actual->at(x, y) != expected.at(x, y) && wrong++ == 0)
                first = "(" + std::to_string(x) + ", " + std::to_string(y) + ") is " + bench::hex(actual->at(x, y)) +
                        ", expected " + bench::hex(expected.at(x, y));
    if (wrong) return ::testing::AssertionFailure() << wrong << " pixels differ; first " << first;
    return ::testing::AssertionSuccess();
}

// Values of the handles opened since `mark` that are still open.
inline std::set<uint32_t> openSince(Device& device, bench::HandleLedger::Mark mark) {
    std::set<uint32_t> values;
    for (const bench::OpenHandle& h : device.bench.handles().openSince(mark)) values.insert(h.value);
    return values;
}

inline std::string describeOpen(Device& device, bench::HandleLedger::Mark mark) {
    return bench::HandleLedger::describe(device.bench.handles().openSince(mark));
}

}  // namespace bannertest
