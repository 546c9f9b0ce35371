// Device release and sound restart on the real image: a reset that succeeds
// closes the device behind the caller's back, with the reset's own result
// and last-error value; every sound played first stops the one playing.
#include "emulator/Bench.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using bench::Bench;
using bench::CallResult;
using bench::Outcome;
using bench::Placement;

constexpr uint32_t SND_FILENAME = 0x00020000, SND_NOSTOP = 0x0010, SND_ASYNC = 0x0001,
                   SND_RESOURCE = 0x00040004, SND_ALIAS = 0x00010000;

struct Kind {
    const char* reset;
    const char* close;
    const char* open;
};
const Kind kCapture{"waveInReset", "waveInClose", "waveInOpen"};
const Kind kPlayback{"waveOutReset", "waveOutClose", "waveOutOpen"};

std::vector<std::string> callNames(Bench& bench) {
    std::vector<std::string> names;
    for (const bench::LoggedCall& call : bench.fake().calls()) names.push_back(call.name);
    return names;
}

class Release : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        bench.load(VELMARK_DLL_PATH);
        uint32_t format = bench.placeBytes({1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0, 0, 0},
                                           Placement::atEnd(1));
        uint32_t out = bench.allocate(4);
        // Opened on the platform directly: what is under test is the reset alone.
        ASSERT_EQ(bench.callCoredll(GetParam().open, {out, 0, format, 0, 0, 0}).r0, 0u);
        device = bench.memory().read32(out);
        setLastError(0x0BADBAD0);  // whatever the thread held before
        bench.fake().clearLog();
    }
    uint32_t lastError() { return bench.fake().errors().get(bench::FakeCoredll::kMainThread); }
    void setLastError(uint32_t value) { bench.fake().errors().set(bench::FakeCoredll::kMainThread, value); }
    std::vector<bench::LoggedCall> closes() { return bench.fake().callsTo(GetParam().close); }
    bool isOpen() { return bench.fake().audio().isOpen(device); }

    Bench bench;
    uint32_t device = 0;
};

TEST_P(Release, ASuccessfulResetClosesTheDeviceOnce) {
    const Kind k = GetParam();
    EXPECT_EQ(bench.call(k.reset, {device}), 0u);
    EXPECT_EQ(callNames(bench), (std::vector<std::string>{k.reset, "GetLastError", k.close, "SetLastError"}));
    ASSERT_EQ(closes().size(), 1u);
    EXPECT_EQ(closes()[0].args, std::vector<uint32_t>{device});
    EXPECT_EQ(bench.fake().callsTo(k.reset)[0].args, std::vector<uint32_t>{device});
    EXPECT_FALSE(isOpen());
    EXPECT_EQ(lastError(), 0x0BADBAD0u) << "as the reset left it";
}

TEST_P(Release, TheCallerSeesTheResetsResultAndLastErrorWhateverTheCloseDoes) {
    const Kind k = GetParam();
    const std::vector<Outcome> closeOutcomes = {
        Outcome::returns(bench::MMSYSERR_INVALHANDLE).withLastError(6),     // fails, changes last-error
        Outcome::returns(bench::MMSYSERR_NOERROR).withLastError(87).afterRunning(),  // closes, changes it
        Outcome::returns(bench::WAVERR_STILLPLAYING),                        // fails, leaves it
    };
    for (size_t i = 0; i < closeOutcomes.size(); ++i) {
        SCOPED_TRACE("close outcome " + std::to_string(i));
        bench.fake().clearLog();
        bench.fake().scriptNext(k.reset, Outcome::returns(0).withLastError(0x77 + uint32_t(i)).afterRunning());
        bench.fake().scriptNext(k.close, closeOutcomes[i]);
        EXPECT_EQ(bench.call(k.reset, {device}), 0u);
        ASSERT_EQ(closes().size(), 1u);
        EXPECT_EQ(closes()[0].args, std::vector<uint32_t>{device});
        EXPECT_EQ(lastError(), 0x77 + uint32_t(i));
    }
}

TEST_P(Release, AFailedResetClosesNothing) {
    const Kind k = GetParam();
    for (uint32_t failure : {bench::MMSYSERR_INVALHANDLE, bench::MMSYSERR_INVALPARAM, 1u}) {
        SCOPED_TRACE("reset returns " + std::to_string(failure));
        bench.fake().clearLog();
        bench.fake().scriptNext(k.reset, Outcome::returns(failure).withLastError(0x55));
        EXPECT_EQ(bench.call(k.reset, {device}), failure);
        EXPECT_EQ(callNames(bench), (std::vector<std::string>{k.reset, "GetLastError", "SetLastError"}));
        EXPECT_TRUE(isOpen());
        EXPECT_EQ(lastError(), 0x55u);
    }
}

TEST_P(Release, TheApplicationsOwnCloseReachesTheClosedHandle) {
    const Kind k = GetParam();
    ASSERT_EQ(bench.call(k.reset, {device}), 0u);
    bench.fake().clearLog();

    EXPECT_EQ(bench.call(k.close, {device}), bench::MMSYSERR_INVALHANDLE);
    ASSERT_EQ(closes().size(), 1u);
    EXPECT_EQ(closes()[0].args, std::vector<uint32_t>{device});
    EXPECT_EQ(closes()[0].result, bench::MMSYSERR_INVALHANDLE);

    // A second reset goes to the platform with the closed handle; no close follows its failure.
    bench.fake().clearLog();
    EXPECT_EQ(bench.call(k.reset, {device}), bench::MMSYSERR_INVALHANDLE);
    EXPECT_EQ(bench.fake().callsTo(k.reset).at(0).args, std::vector<uint32_t>{device});
    EXPECT_TRUE(closes().empty());
}

INSTANTIATE_TEST_SUITE_P(Devices, Release, ::testing::Values(kCapture, kPlayback),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                             return std::string(info.param.reset == kCapture.reset ? "Capture" : "Playback");
                         });

// A capture device reset through the module while a buffer is queued: the
// buffer comes back through the capture callback, then the device is closed
// (its WIM_CLOSE ignored by that callback).
TEST(ReleaseCapture, QueuedBuffersComeBackThroughTheCaptureCallbackBeforeTheClose) {
    Bench bench;
    bench.load(VELMARK_DLL_PATH);
    uint32_t format = bench.placeBytes(bench::pcm16000Format());
    uint32_t out = bench.allocate(4);
    ASSERT_EQ(bench.call("waveInOpen", {out, 0, format, 0, 0, 0}), 0u);
    uint32_t device = bench.memory().read32(out);
    uint32_t data = bench.allocate(320, Placement::exactEnd());
    uint32_t header = bench.allocate(bench::kWaveHeaderSize, Placement::atEnd(3));
    bench.memory().write32(header, data);
    bench.memory().write32(header + 4, 320);
    ASSERT_EQ(bench.call("waveInPrepareHeader", {device, header, bench::kWaveHeaderSize}), 0u);
    ASSERT_EQ(bench.call("waveInAddBuffer", {device, header, bench::kWaveHeaderSize}), 0u);
    bench.fake().clearLog();

    EXPECT_EQ(bench.call("waveInReset", {device}), 0u);
    EXPECT_EQ(bench.memory().read32(header + 4), 320u) << "the callback delivered it";
    EXPECT_EQ(bench.memory().read32(header + 8), 0u);
    EXPECT_FALSE(bench.fake().audio().isOpen(device));
    EXPECT_EQ(bench.fake().audio().closedHandles(), std::vector<uint32_t>{device});
}

// --- Sound restart ---------------------------------------------------------------------

struct SoundCall {
    const char* name;
    std::optional<std::u16string> sound;
    uint32_t module;
    uint32_t flags;
};

class SoundRestart : public ::testing::TestWithParam<SoundCall> {};

TEST_P(SoundRestart, EveryCallFirstStopsTheSoundPlaying) {
    const SoundCall c = GetParam();
    Bench bench;
    bench.load(VELMARK_DLL_PATH);
    uint32_t name = c.sound ? bench.placeWString(*c.sound, Placement::atEnd(1)) : 0;
    if (c.flags == SND_RESOURCE) name = 284;
    // The stop request fails and the play answers 7: only the play's answer counts.
    bench.fake().scriptNext("PlaySoundW", Outcome::returns(0).afterRunning());
    bench.fake().scriptNext("PlaySoundW", Outcome::returns(7).afterRunning());

    EXPECT_EQ(bench.call("PlaySoundW", {name, c.module, c.flags}), 7u);

    std::vector<bench::LoggedCall> calls = bench.fake().callsTo("PlaySoundW");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].args, (std::vector<uint32_t>{0, 0, 0})) << "the stop request first";
    EXPECT_EQ(calls[1].args, (std::vector<uint32_t>{name, c.module, c.flags}));
    const std::vector<bench::SoundPlayed>& sounds = bench.fake().audio().sounds();
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_EQ(sounds[1].name, c.flags == SND_RESOURCE ? std::nullopt : c.sound);
    EXPECT_EQ(bench.fake().countOf("sndPlaySoundW"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SoundRestart,
    ::testing::Values(SoundCall{"File", u"\\Windows\\alarm1.wav", 0, SND_FILENAME | SND_ASYNC},
                      SoundCall{"StopRequestOfItsOwn", std::nullopt, 0, 0},
                      SoundCall{"NoStop", u"\\Windows\\alarm1.wav", 0, SND_FILENAME | SND_NOSTOP},
                      SoundCall{"Alias", u"SystemStart", 0, SND_ALIAS | SND_NOSTOP | SND_ASYNC},
                      SoundCall{"Resource", std::nullopt, 0x00400000, SND_RESOURCE}),
    [](const ::testing::TestParamInfo<SoundCall>& info) { return std::string(info.param.name); });

TEST(SoundRestartPlain, SndPlaySoundMakesNoStopRequest) {
    Bench bench;
    bench.load(VELMARK_DLL_PATH);
    uint32_t name = bench.placeWString(u"\\Windows\\alarm1.wav", Placement::atEnd(1));
    EXPECT_EQ(bench.call("sndPlaySoundW", {name, SND_ASYNC | SND_NOSTOP}), 1u);
    EXPECT_EQ(bench.fake().countOf("PlaySoundW"), 0u);
    const std::vector<bench::SoundPlayed>& sounds = bench.fake().audio().sounds();
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_EQ(sounds[0].function, "sndPlaySoundW");
    EXPECT_EQ(sounds[0].nameArgument, name);
    EXPECT_EQ(sounds[0].flags, SND_ASYNC | SND_NOSTOP);
}

}  // namespace
