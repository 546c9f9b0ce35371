// The fake COREDLL's audio devices, whose callbacks run on the emulated
// core, and the shell functions that record what they receive.
#include "emulator/Bench.h"

#include <gtest/gtest.h>

#include "tests/bench/TinyImage.h"
#include "tests/bench/fakeCalls.h"

namespace benchtest {
namespace {

using bench::Bench;
using bench::CallResult;
using bench::Placement;

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        seen = bench.allocate(20);
        callback = bench.allocateCode(arm::recordArgs(seen));
        format = bench.placeBytes(bench::pcm16000Format(), Placement::atEnd(1));
        uint32_t handleOut = bench.allocate(4, Placement::atEnd(3));
        ASSERT_EQ(callOk(bench, "waveInOpen", {handleOut, 0, format, callback, 0x1D, bench::CALLBACK_FUNCTION}), 0u);
        device = bench.memory().read32(handleOut);
    }
    uint32_t seenArg(int i) { return bench.memory().read32(seen + 4 * uint32_t(i)); }
    // A WAVEHDR at an odd address announcing `length` bytes of a 16-byte buffer.
    uint32_t queueBuffer(uint32_t length) {
        uint32_t buffer = bench.allocate(16, Placement::exactEnd());
        bench.memory().writeBytes(buffer, std::vector<uint8_t>(16, 0xEE));
        uint32_t header = bench.allocate(bench::kWaveHeaderSize, Placement::atEnd(1));
        bench.memory().write32(header, buffer);
        bench.memory().write32(header + 4, length);
        EXPECT_EQ(callOk(bench, "waveInPrepareHeader", {device, header, bench::kWaveHeaderSize}), 0u);
        EXPECT_EQ(callOk(bench, "waveInAddBuffer", {device, header, bench::kWaveHeaderSize}), 0u);
        return header;
    }

    Bench bench;
    uint32_t seen = 0, callback = 0, format = 0, device = 0;
};

TEST_F(Capture, OpenRecordsTheFormatAndNotifiesTheCallback) {
    const bench::WaveOpen& open = bench.fake().audio().opens().back();
    EXPECT_EQ(open.format, bench::pcm16000Format());
    EXPECT_EQ(open.samplesPerSec(), 16000u);
    EXPECT_EQ(open.callback, callback);
    EXPECT_EQ(open.flags, bench::CALLBACK_FUNCTION);
    EXPECT_EQ(seenArg(0), device);
    EXPECT_EQ(seenArg(1), bench::WIM_OPEN);
    EXPECT_EQ(seenArg(2), 0x1Du);
}

TEST_F(Capture, TheDeviceFillsAtMostTheAnnouncedLengthAndCallsBackOnTheCore) {
    uint32_t header = queueBuffer(4);
    CallResult delivered = bench.deliverCapture(device, {1, 2, 3, 4, 5, 6});
    ASSERT_TRUE(delivered.ok()) << delivered.describe();
    uint32_t buffer = bench.memory().read32(header);
    EXPECT_EQ(bench.memory().readBytes(buffer, 6), (std::vector<uint8_t>{1, 2, 3, 4, 0xEE, 0xEE}));
    EXPECT_EQ(bench.memory().read32(header + 8), 4u);
    EXPECT_EQ(bench.memory().read32(header + 16) & (bench::WHDR_DONE | bench::WHDR_INQUEUE), bench::WHDR_DONE);
    EXPECT_EQ(seenArg(0), device);
    EXPECT_EQ(seenArg(1), bench::WIM_DATA);
    EXPECT_EQ(seenArg(2), 0x1Du);
    EXPECT_EQ(seenArg(3), header);
    EXPECT_EQ(seenArg(4), 0u);
    EXPECT_THROW(bench.deliverCapture(device, {1}), bench::BenchMisuse) << "nothing is queued any more";
}

TEST_F(Capture, ACallbackThatFaultsFailsTheDelivery) {
    uint32_t header = queueBuffer(4);
    bench.release(seen);  // the callback now stores into a hole
    CallResult delivered = bench.deliverCapture(device, {1, 2});
    ASSERT_FALSE(delivered.ok());
    EXPECT_EQ(delivered.fault->kind, bench::FaultKind::Unmapped) << delivered.describe();
    EXPECT_EQ(bench.memory().read32(header + 8), 2u);
}

TEST_F(Capture, ResetReturnsBuffersAndASecondCloseIsRefused) {
    uint32_t header = queueBuffer(8);
    EXPECT_EQ(callOk(bench, "waveInClose", {device}), bench::WAVERR_STILLPLAYING);
    EXPECT_EQ(callOk(bench, "waveInReset", {device}), 0u);
    EXPECT_EQ(seenArg(1), bench::WIM_DATA) << "the reset hands the buffer back through the callback";
    EXPECT_EQ(seenArg(3), header);
    EXPECT_EQ(callOk(bench, "waveInClose", {device}), 0u);
    EXPECT_EQ(seenArg(1), bench::WIM_CLOSE);
    EXPECT_EQ(callOk(bench, "waveInClose", {device}), bench::MMSYSERR_INVALHANDLE);
    EXPECT_EQ(callOk(bench, "waveInReset", {device}), bench::MMSYSERR_INVALHANDLE);
    EXPECT_EQ(bench.fake().audio().closedHandles(), std::vector<uint32_t>{device});
    EXPECT_TRUE(bench.handles().open(bench::HandleKind::WaveIn).empty());
}

TEST_F(Capture, ScriptedResultsAndAllocatedDevices) {
    bench.fake().scriptNext("waveInReset", bench::Outcome::returns(bench::MMSYSERR_INVALHANDLE));
    EXPECT_EQ(callOk(bench, "waveInReset", {device}), bench::MMSYSERR_INVALHANDLE);
    bench.fake().audio().setAllocated(true);
    uint32_t handleOut = bench.allocate(4);
    EXPECT_EQ(callOk(bench, "waveInOpen", {handleOut, 0, format, callback, 0, bench::CALLBACK_FUNCTION}),
              bench::MMSYSERR_ALLOCATED);
}

TEST(FakeSound, PlaySoundCallsAreRecorded) {
    Bench bench;
    uint32_t name = bench.placeWString(u"\\Windows\\alarm1.wav", Placement::atEnd(1));
    EXPECT_EQ(callOk(bench, "PlaySoundW", {0, 0, 0}), 1u);
    EXPECT_EQ(callOk(bench, "PlaySoundW", {name, 0, 0x20011}), 1u);
    EXPECT_EQ(callOk(bench, "sndPlaySoundW", {name, 1}), 1u);
    const std::vector<bench::SoundPlayed>& sounds = bench.fake().audio().sounds();
    ASSERT_EQ(sounds.size(), 3u);
    EXPECT_FALSE(sounds[0].name.has_value());
    EXPECT_EQ(sounds[1].name, std::u16string(u"\\Windows\\alarm1.wav"));
    EXPECT_EQ(sounds[1].flags, 0x20011u);
    EXPECT_EQ(sounds[2].function, "sndPlaySoundW");
}

TEST(FakeShell, RecordsWhatTheDialogsAndFolderQueryReceive) {
    Bench bench;
    std::vector<uint8_t> record(bench::kOpenFileNameSize, 0);
    record[0] = 76;
    for (int i = 0; i < 4; ++i) record[bench::kOfnFlagsOffset + i] = 0xFF;
    uint32_t ofn = bench.placeBytes(record, Placement::atEnd(3));
    EXPECT_EQ(callOk(bench, "GetSaveFileNameW", {ofn}), 0u);
    const bench::FileDialogCall& dialog = bench.fake().shell().fileDialogs().back();
    EXPECT_TRUE(dialog.save);
    EXPECT_EQ(dialog.bytes, record);
    EXPECT_EQ(dialog.flags(), 0xFFFFFFFFu);

    // Another size is refused without reading past what the caller has.
    std::vector<uint8_t> short_(20, 0);
    short_[0] = 0x4C;
    short_[1] = 0x01;
    uint32_t shortRecord = bench.placeBytes(short_, Placement::exactEnd());
    EXPECT_EQ(callOk(bench, "GetOpenFileNameW", {shortRecord}), 0u);
    EXPECT_EQ(bench.fake().shell().fileDialogs().back().bytes, short_);

    uint32_t path = bench.allocate(2 * 260, Placement::atEnd(1));
    bench.memory().writeWString(path, u"stale text");
    EXPECT_EQ(callOk(bench, "SHGetSpecialFolderPath", {0, path, 5, 0}), 1u);
    EXPECT_EQ(bench.fake().shell().folderQueries().back().atEntry, std::u16string(u"stale text"));
    EXPECT_EQ(bench.memory().readWString(path), u"\\My Documents");
    EXPECT_EQ(callOk(bench, "SHGetSpecialFolderPath", {0, 0, 5, 0}), 0u);
    EXPECT_FALSE(bench.fake().shell().folderQueries().back().atEntry.has_value());
}

}  // namespace
}  // namespace benchtest
