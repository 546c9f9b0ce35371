// Bitmap 284 on the emulated device: which requests get the banner, the
// banner file beside the host executable drawn over the whole 800 x 407,
// what the draw's result decides, and how a first request that cannot make
// the banner, or that races another, ends.
#include "tests/device/bannerDevice.h"

#include <gtest/gtest.h>

namespace bannertest {
namespace {

using bench::Gdi;
using bench::HandleKind;
using bench::Outcome;

std::vector<uint8_t> bitmapFile(uint16_t bitCount, int32_t width, int32_t height, int64_t pixelOffset = -1) {
    BitmapFileShape shape;
    shape.bitCount = bitCount;
    shape.width = width;
    shape.height = height;
    shape.pixelOffset = pixelOffset;
    return makeBitmapFile(shape);
}

const std::vector<uint8_t> kSmallFile = bitmapFile(24, 5, 3);

TEST(BannerRequest, Bitmap284OfAnyInstanceIsTheBanner) {
    enum Instance { Host, ThisModule, OtherLibrary, Null };
    for (Instance which : {Host, ThisModule, OtherLibrary, Null}) {
        SCOPED_TRACE(which);
        Device device({kHostPath, true});
        device.giveHostBitmap(400, 407);
        device.putBannerFile(kSmallFile);
        uint32_t library = device.loadLibrary(u"\\Windows\\other.dll");
        device.bench.fake().resources().of(u"\\Windows\\other.dll").bitmap(kBannerId, hostPicture(8, 8));
        device.bench.fake().resources().of(kLanguagePath).bitmap(kBannerId, hostPicture(8, 8));
        const uint32_t instances[] = {device.host(), device.bench.instance(), library, 0};

        CallResult banner = requestOk(device, instances[which]);
        ASSERT_NE(banner.r0, 0u);
        EXPECT_TRUE(samePixels(device.surface(banner.r0), expectedFromFile(kSmallFile)));
        EXPECT_TRUE(device.coredllLoads().empty()) << "no module's own bitmap 284 is asked for";

        for (uint32_t instance : instances) EXPECT_EQ(requestOk(device, instance).r0, banner.r0);
    }
}

TEST(BannerRequest, OtherNamesGoTheGeneralWay) {
    Device device({kHostPath, true});
    uint32_t language = device.bench.fake().modules().handleNamed(kLanguagePath).value_or(0);
    ASSERT_NE(language, 0u) << "the language module was not loaded";
    uint32_t host = device.host();
    uint32_t library = device.loadLibrary(u"\\Windows\\other.dll");
    auto& resources = device.bench.fake().resources();
    resources.of(kHostPath).bitmap(kBannerId, hostPicture(6, 4)).bitmap(285, Surface::filled(2, 2, 0xAA0000));
    resources.of(kHostPath).bitmap(286, Surface::filled(3, 3, 0x00AA00));
    resources.of(kLanguagePath).bitmap(285, Surface::filled(4, 4, 0x0000AA));
    resources.of(u"\\Windows\\other.dll").bitmap(285, Surface::filled(5, 5, 0xAAAA00));
    uint32_t hash284 = device.bench.placeWString(u"#284");
    device.putBannerFile(kSmallFile);

    struct Case {
        const char* what;
        uint32_t instance, name;
        std::vector<std::pair<uint32_t, uint32_t>> loads;
        int width;  // of the bitmap returned; 0: null
    };
    const Case cases[] = {
        {"host 285: the language module's", host, 285, {{language, 285}}, 4},
        {"host 286: the host's after the language module", host, 286, {{language, 286}, {host, 286}}, 3},
        {"another library's 285", library, 285, {{library, 285}}, 5},
        {"null instance 285", 0, 285, {{0, 285}}, 0},
        {"the string \"#284\" is no identifier", host, hash284, {{language, hash284}, {host, hash284}}, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        device.bench.fake().clearLog();
        CallResult result = requestOk(device, c.instance, c.name);
        EXPECT_EQ(device.coredllLoads(), c.loads);
        if (c.width == 0) {
            EXPECT_EQ(result.r0, 0u);
        } else {
            const Surface* got = device.surface(result.r0);
            ASSERT_NE(got, nullptr);
            EXPECT_EQ(got->width, c.width);
        }
        EXPECT_EQ(device.bench.fake().countOf("CreateCompatibleBitmap"), 0u) << "a banner was made";
        EXPECT_TRUE(device.bench.fake().files().opens().empty()) << "the banner file was opened";
    }
}

TEST(BannerRequest, WithoutALanguageModuleTheHostIsAskedAlone) {
    Device device;
    device.bench.fake().resources().of(kHostPath).bitmap(285, Surface::filled(2, 2, 0xAA0000));
    CallResult result = requestOk(device, device.host(), 285);
    EXPECT_EQ(device.coredllLoads(), (std::vector<std::pair<uint32_t, uint32_t>>{{device.host(), 285}}));
    ASSERT_NE(device.surface(result.r0), nullptr);
    EXPECT_EQ(device.surface(result.r0)->at(1, 1), 0xAA0000u);
}

TEST(BannerRequest, LaterRequestsReturnTheSameHandleAndTouchNothing) {
    Device device;
    device.giveHostBitmap(400, 407);
    CallResult first = requestOk(device, device.host());
    ASSERT_NE(first.r0, 0u);
    Surface firstPicture = *device.surface(first.r0);
    EXPECT_TRUE(samePixels(&firstPicture, expectedFallback(400, 407, 200)));
    EXPECT_TRUE(device.bench.handles().open(HandleKind::DC).empty())
        << bench::HandleLedger::describe(device.bench.handles().open(HandleKind::DC));

    // A banner file that appears later changes nothing: the banner is fixed.
    device.putBannerFile(kSmallFile);
    device.bench.fake().clearLog();
    size_t opens = device.bench.fake().files().opens().size();
    auto mark = device.bench.handles().mark();
    for (uint32_t instance : {device.host(), 0u, device.bench.instance()}) {
        EXPECT_EQ(requestOk(device, instance).r0, first.r0);
        EXPECT_TRUE(device.bench.fake().calls().empty())
            << "a later request called " << device.bench.fake().calls().front().name;
    }
    EXPECT_EQ(device.bench.fake().files().opens().size(), opens);
    EXPECT_TRUE(openSince(device, mark).empty()) << describeOpen(device, mark);
    EXPECT_TRUE(device.bench.handles().open(HandleKind::DC).empty());
    EXPECT_TRUE(samePixels(device.surface(first.r0), firstPicture));
}

TEST(BannerFromFile, PathIsTheHostPathWithItsLastThreeCharactersMadeBmp) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"\\Windows\\app.exe", u"\\Windows\\app.bmp"},
        {u"\\Windows\\APP.EXE", u"\\Windows\\APP.bmp"},
        {u"\\Storage Card\\Prog.x", u"\\Storage Card\\Probmp"},  // no dot is looked for
        {u"abc", u"bmp"},
    };
    for (const auto& [hostPath, bannerPath] : cases) {
        SCOPED_TRACE(bench::narrow(hostPath));
        Device device({hostPath});
        device.bench.fake().files().add(bannerPath, kSmallFile);
        CallResult banner = requestOk(device, device.host());
        const auto& opens = device.bench.fake().files().opens();
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(bench::narrow(opens[0].path), bench::narrow(bannerPath)) << "compared with case";
        EXPECT_TRUE(samePixels(device.surface(banner.r0), expectedFromFile(kSmallFile)));
    }
}

TEST(BannerFromFile, HostPathTooShortForTheExtensionIsAMissingFile) {
    for (std::u16string hostPath : {u"ab", u"a", u""}) {
        SCOPED_TRACE("\"" + bench::narrow(hostPath) + "\"");
        Device device({hostPath});
        device.giveHostBitmap(240, 407);
        device.bench.fake().files().add(u"bmp", kSmallFile);
        device.bench.fake().files().add(u"\\bmp", kSmallFile);
        CallResult banner = requestOk(device, device.host());
        EXPECT_EQ(device.bench.fake().countOf("CreateFileForMappingW"), 0u);
        EXPECT_TRUE(samePixels(device.surface(banner.r0), expectedFallback(240, 407, 120)));
    }
}

TEST(BannerFromFile, FilesOfEverySizeAndDepthFillTheWholeBanner) {
    struct Case {
        uint16_t bitCount;
        int32_t width, height;
        int64_t pixelOffset;
    };
    const Case cases[] = {
        {16, 3, 2, -1},     {16, 7, -5, -1},  {24, 5, 3, -1},    {24, 800, -407, -1},
        {24, 1, 1, -1},     {32, 1000, 500, -1}, {32, 2, -1, -1}, {24, 9, 4, 130},  // pixels after a gap
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bitCount) + " bits " + std::to_string(c.width) + " x " +
                     std::to_string(c.height) + " at " + std::to_string(c.pixelOffset));
        Device device;
        device.giveHostBitmap(400, 407);
        std::vector<uint8_t> file = bitmapFile(c.bitCount, c.width, c.height, c.pixelOffset);
        device.putBannerFile(file);
        auto mark = device.bench.handles().mark();

        CallResult banner = requestOk(device, device.host());
        const Surface* pixels = device.surface(banner.r0);
        ASSERT_NE(pixels, nullptr);
        Surface expected = expectedFromFile(file);
        EXPECT_TRUE(samePixels(pixels, expected));
        for (auto [x, y] : {std::pair{0, 0}, {799, 0}, {0, 406}, {799, 406}, {400, 203}})
            EXPECT_EQ(pixels->at(x, y), expected.at(x, y)) << "at " << x << ", " << y;
        EXPECT_EQ(device.bench.fake().countOf("FillRect"), 0u) << "the fall-back followed a good draw";
        EXPECT_TRUE(device.coredllLoads().empty());
        EXPECT_EQ(openSince(device, mark), std::set<uint32_t>{banner.r0}) << describeOpen(device, mark);
    }
}

TEST(BannerFromFile, OpenedForWritingMappedWholeAndReleasedLastFirst) {
    Device device;
    std::vector<uint8_t> file = bitmapFile(24, 5, 3, 90);
    device.putBannerFile(file);
    CallResult banner = requestOk(device, device.host());
    auto& fake = device.bench.fake();

    const bench::FileOpen& open = fake.files().opens().at(0);
    EXPECT_EQ(open.access, bench::GENERIC_READ | bench::GENERIC_WRITE);
    EXPECT_EQ(open.share, bench::FILE_SHARE_READ | bench::FILE_SHARE_WRITE);
    EXPECT_EQ(open.disposition, bench::OPEN_EXISTING);
    bench::LoggedCall mapping = fake.callsTo("CreateFileMappingW").at(0);
    EXPECT_EQ(mapping.args[2], bench::PAGE_READWRITE);
    EXPECT_EQ(mapping.args[3], 0u);
    EXPECT_EQ(mapping.args[4], uint32_t(file.size()));
    bench::LoggedCall view = fake.callsTo("MapViewOfFile").at(0);
    EXPECT_EQ(view.args[1], bench::FILE_MAP_READ | bench::FILE_MAP_WRITE);
    EXPECT_EQ(view.args[4], 0u) << "the whole file";

    const bench::DibDraw& draw = fake.gdi().dibDraws().at(0);
    EXPECT_EQ(std::vector<int32_t>({draw.x, draw.y, draw.width, draw.height, draw.srcX, draw.srcY, draw.srcWidth,
                                    draw.srcHeight}),
              std::vector<int32_t>({0, 0, 800, 407, 0, 0, 5, 3}));
    EXPECT_EQ(draw.bits, view.result + 90) << "pixels are drawn in place inside the view";

    std::vector<std::string> releases;
    std::vector<uint32_t> released;
    for (const bench::LoggedCall& call : fake.calls())
        if (call.name == "UnmapViewOfFile" || call.name == "CloseHandle") {
            releases.push_back(call.name);
            released.push_back(call.args[0]);
        }
    EXPECT_EQ(releases, (std::vector<std::string>{"UnmapViewOfFile", "CloseHandle", "CloseHandle"}));
    EXPECT_EQ(released, (std::vector<uint32_t>{view.result, mapping.result, open.handle}));
    EXPECT_TRUE(samePixels(device.surface(banner.r0), expectedFromFile(file)));
}

TEST(BannerFromFile, FileThatCannotBeOpenedForWritingIsNotUsed) {
    for (bool readOnly : {true, false}) {
        SCOPED_TRACE(readOnly ? "read-only file" : "file held open elsewhere without sharing");
        Device device;
        device.giveHostBitmap(400, 407);
        device.putBannerFile(kSmallFile, readOnly);
        if (!readOnly) device.bench.fake().files().holdOpen(bannerPathOf(kHostPath), bench::GENERIC_READ, 0);
        auto mark = device.bench.handles().mark();
        CallResult banner = requestOk(device, device.host());
        ASSERT_EQ(device.bench.fake().files().opens().size(), 1u);
        EXPECT_EQ(device.bench.fake().files().opens()[0].handle, bench::INVALID_HANDLE_VALUE);
        EXPECT_EQ(device.bench.fake().countOf("StretchDIBits"), 0u);
        EXPECT_TRUE(samePixels(device.surface(banner.r0), expectedFallback(400, 407, 200)));
        EXPECT_EQ(openSince(device, mark), std::set<uint32_t>{banner.r0}) << describeOpen(device, mark);
    }
}

TEST(BannerDraw, ADrawOfZeroLinesCountsAsDrawn) {
    Device device;
    device.giveHostBitmap(400, 407);
    device.putBannerFile(kSmallFile);
    device.bench.fake().scriptNext("StretchDIBits", Outcome::returns(0));
    auto mark = device.bench.handles().mark();
    CallResult banner = requestOk(device, device.host());
    ASSERT_NE(banner.r0, 0u);
    EXPECT_TRUE(device.coredllLoads().empty()) << "the fall-back followed";
    EXPECT_EQ(device.bench.fake().countOf("FillRect"), 0u);
    // Nothing drew at all (the scripted draw did not run), and nothing else drew either.
    EXPECT_TRUE(samePixels(device.surface(banner.r0),
                           Surface::filled(kBannerWidth, kBannerHeight, Gdi::kFreshBitmapColor)));
    EXPECT_EQ(openSince(device, mark), std::set<uint32_t>{banner.r0}) << describeOpen(device, mark);
}

TEST(BannerDraw, AFailedDrawBringsTheFallbackWithItsWhiteFieldOverTheDraw) {
    Device device;
    device.giveHostBitmap(240, 407);
    device.putBannerFile(kSmallFile);
    // The draw paints all its pixels, then reports GDI_ERROR.
    device.bench.fake().scriptNext("StretchDIBits", Outcome::returns(bench::GDI_ERROR).afterRunning());
    auto mark = device.bench.handles().mark();
    CallResult banner = requestOk(device, device.host());

    ASSERT_EQ(device.bench.fake().gdi().dibDraws().size(), 1u);
    EXPECT_EQ(device.bench.fake().gdi().dibDraws()[0].result, 3u) << "the draw was to paint before failing";
    EXPECT_TRUE(samePixels(device.surface(banner.r0), expectedFallback(240, 407, 120)));
    EXPECT_EQ(device.coredllLoads(), (std::vector<std::pair<uint32_t, uint32_t>>{{device.host(), kBannerId}}));
    // The file is let go before the fall-back starts.
    std::vector<std::string> order;
    for (const bench::LoggedCall& call : device.bench.fake().calls())
        if (call.name == "UnmapViewOfFile" || call.name == "CloseHandle" || call.name == "LoadBitmapW")
            order.push_back(call.name);
    EXPECT_EQ(order, (std::vector<std::string>{"UnmapViewOfFile", "CloseHandle", "CloseHandle", "LoadBitmapW"}));
    EXPECT_EQ(openSince(device, mark), std::set<uint32_t>{banner.r0}) << describeOpen(device, mark);
}

TEST(BannerRequest, WhenNoBitmapCanBeMadeTheRequestGoesTheGeneralWayAndIsTriedAgain) {
    enum Answer { LanguageModule, HostAfterLanguageModule, Library };
    for (Answer answer : {LanguageModule, HostAfterLanguageModule, Library}) {
        SCOPED_TRACE(answer);
        Device device({kHostPath, true});
        auto& fake = device.bench.fake();
        uint32_t language = fake.modules().handleNamed(kLanguagePath).value_or(0);
        uint32_t library = device.loadLibrary(u"\\Windows\\other.dll");
        device.giveHostBitmap(6, 4);
        if (answer == LanguageModule) fake.resources().of(kLanguagePath).bitmap(kBannerId, hostPicture(4, 4));
        fake.resources().of(u"\\Windows\\other.dll").bitmap(kBannerId, hostPicture(5, 5));
        device.putBannerFile(kSmallFile);
        uint32_t instance = answer == Library ? library : device.host();

        fake.failOnCall("CreateCompatibleBitmap", 1);
        auto mark = device.bench.handles().mark();
        CallResult general = requestOk(device, instance);
        std::vector<std::pair<uint32_t, uint32_t>> loads = {{language, kBannerId}, {device.host(), kBannerId}};
        if (answer == LanguageModule) loads.pop_back();
        if (answer == Library) loads = {{library, kBannerId}};
        EXPECT_EQ(device.coredllLoads(), loads);
        ASSERT_NE(device.surface(general.r0), nullptr);
        EXPECT_EQ(device.surface(general.r0)->width, answer == LanguageModule ? 4 : answer == Library ? 5 : 6);
        EXPECT_EQ(fake.countOf("CreateFileForMappingW"), 0u);
        EXPECT_EQ(openSince(device, mark), std::set<uint32_t>{general.r0}) << describeOpen(device, mark);

        fake.clearLog();
        CallResult banner = requestOk(device, instance);
        EXPECT_EQ(fake.countOf("CreateCompatibleBitmap"), 1u) << "the next request tries again";
        EXPECT_NE(banner.r0, general.r0);
        EXPECT_TRUE(samePixels(device.surface(banner.r0), expectedFromFile(kSmallFile)));
        EXPECT_EQ(requestOk(device, device.host()).r0, banner.r0);
    }
}

// Two first requests at once: the device's InterlockedCompareExchange lets
// a second thread run a whole request of its own just before the first
// thread publishes, so the second thread's banner is there first.
TEST(BannerRequest, RacingFirstRequestsShareTheWinnersBanner) {
    Device device;
    device.giveHostBitmap(400, 407);
    device.putBannerFile(kSmallFile);
    auto& fake = device.bench.fake();
    uint32_t entry = device.bench.exportAddress("LoadBitmapW");
    uint32_t host = device.host();
    bool rivalRan = false;
    uint32_t rival = 0;
    fake.withdraw("InterlockedCompareExchange");
    fake.define("InterlockedCompareExchange", 3, Outcome::returns(0), [&](bench::CallContext& call) {
        uint32_t target = call.arg(0), exchange = call.arg(1), comparand = call.arg(2);
        if (!rivalRan) {
            rivalRan = true;
            rival = call.callEmulated(entry, {host, kBannerId}, bench::FakeCoredll::kCallbackThread);
        }
        uint32_t before = call.memory().read32(target);
        if (before == comparand) call.memory().write32(target, exchange);
        return before;
    });

    auto mark = device.bench.handles().mark();
    CallResult first = requestOk(device, host);
    ASSERT_TRUE(rivalRan);
    ASSERT_NE(rival, 0u);
    EXPECT_EQ(first.r0, rival) << "the thread that lost hands out the winner's banner";

    std::vector<bench::LoggedCall> created = fake.callsTo("CreateCompatibleBitmap");
    ASSERT_EQ(created.size(), 2u) << "each thread composes a banner of its own";
    uint32_t own = created[0].result;
    EXPECT_NE(own, rival);
    std::vector<bench::LoggedCall> deleted = fake.callsTo("DeleteObject");
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_EQ(deleted[0].args[0], own);
    EXPECT_EQ(deleted[0].result, 1u);
    EXPECT_EQ(openSince(device, mark), std::set<uint32_t>{rival}) << describeOpen(device, mark);
    EXPECT_TRUE(samePixels(device.surface(rival), expectedFromFile(kSmallFile)));

    fake.clearLog();
    EXPECT_EQ(requestOk(device, 0).r0, rival);
    EXPECT_TRUE(fake.calls().empty());
}

}  // namespace
}  // namespace bannertest
