// Capture on the real image: the device runs at 8000 samples a second, the
// module's callback takes the caller's place, and every buffer the device
// fills reaches the application with each two-byte frame written twice.
// Records lie at odd addresses; buffers end against an unmapped guard page
// wherever a write past them matters.
#include "emulator/Bench.h"
#include "module/audio/duplicateSamples.h"
#include "toolchain/imagewriter/ElfFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using bench::Bench;
using bench::CallResult;
using bench::Placement;

constexpr uint32_t kHeaderSize = bench::kWaveHeaderSize;
constexpr uint32_t kInstance = 0x1D2C3B4A;
// WAVEHDR fields.
constexpr uint32_t kData = 0, kLength = 4, kRecorded = 8, kUser = 12, kFlags = 16, kLoops = 20, kNext = 24;
// Other notification kinds a caller might ask for.
constexpr uint32_t CALLBACK_NULL = 0, CALLBACK_WINDOW = 0x10000, CALLBACK_THREAD = 0x20000,
                   CALLBACK_EVENT = 0x50000;
constexpr uint32_t kSlotOffset = 0x18;  // ModuleState.staleCaptureHandle

// The format record with nSamplesPerSec set to `rate`.
std::vector<uint8_t> withRate(std::vector<uint8_t> format, uint32_t rate) {
    for (int i = 0; i < 4; ++i) format[4 + i] = uint8_t(rate >> (8 * i));
    return format;
}

// 16-bit mono PCM; nAvgBytesPerSec and nBlockAlign deliberately not what
// any rate would give, so a recomputation shows.
std::vector<uint8_t> pcmFormat(uint32_t rate) {
    return withRate({1, 0, 1, 0, 0, 0, 0, 0, 0x78, 0x56, 0x34, 0x12, 6, 0, 16, 0, 0, 0}, rate);
}

// Distinct bytes, so a misplaced copy shows.
std::vector<uint8_t> pattern(uint32_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = uint8_t(seed + 7 * i + (i >> 5));
    return bytes;
}

// A caller's callback that counts its calls in the word at `counter`:
// ldr ip,[pc,#12]; ldr r3,[ip]; add r3,r3,#1; str r3,[ip]; bx lr; .word counter
std::vector<uint32_t> countingCallback(uint32_t counter) {
    return {0xE59FC00C, 0xE59C3000, 0xE2833001, 0xE58C3000, 0xE12FFF1E, counter};
}

// A global symbol of the ELF the image was written from (the build puts it
// in module/ beside VELMARK.dll).
imagewriter::ElfSymbol elfSymbol(const std::string& name) {
    std::filesystem::path path = std::filesystem::path(VELMARK_DLL_PATH).parent_path() / "module" / "velmark.elf";
    imagewriter::ElfFile elf = imagewriter::ElfFile::load(path.string());
    const imagewriter::ElfSymbol* symbol = elf.findGlobal(name);
    if (!symbol) throw std::runtime_error(name + " is not in " + path.string());
    return *symbol;
}

class CaptureDevice : public ::testing::Test {
protected:
    void SetUp() override {
        bench.load(VELMARK_DLL_PATH);
        counter = bench.allocate(4);
        callerCallback = bench.allocateCode(countingCallback(counter));
        format = bench.placeBytes(pcmFormat(16000), Placement::atEnd(1));
        handleOut = bench.allocate(4, Placement::atEnd(3));
        mem().write32(handleOut, 0xA5A5A5A5);
    }

    bench::Memory& mem() { return bench.memory(); }
    bench::Audio& audio() { return bench.fake().audio(); }
    uint32_t callerNotifications() { return mem().read32(counter); }

    uint32_t open(uint32_t flags = bench::CALLBACK_FUNCTION, uint32_t deviceId = 0) {
        return bench.call("waveInOpen", {handleOut, deviceId, format, callerCallback, kInstance, flags});
    }
    // Opens the device through the module; the callback it registered is
    // what the platform notifies.
    void openDevice() {
        ASSERT_EQ(open(), 0u);
        device = mem().read32(handleOut);
        moduleCallback = audio().opens().back().callback;
    }

    // A WAVEHDR at an odd address (or as `headerPlacement` says) for a buffer
    // of `capacity` bytes whose last byte is followed by a guard page,
    // holding `capacity` as its length.
    uint32_t newHeader(uint32_t capacity, Placement bufferPlacement = Placement::exactEnd(),
                       Placement headerPlacement = Placement::atEnd(1)) {
        uint32_t data = bench.allocate(capacity, bufferPlacement);
        mem().writeBytes(data, pattern(capacity, 0x5B));
        uint32_t header = bench.allocate(kHeaderSize, headerPlacement);
        mem().write32(header + kData, data);
        mem().write32(header + kLength, capacity);
        mem().write32(header + kUser, 0x11223344);
        mem().write32(header + kLoops, 0x55667788);
        mem().write32(header + kNext, 0x99AABBCC);
        return header;
    }
    uint32_t dataOf(uint32_t header) { return mem().read32(header + kData); }
    uint32_t lengthOf(uint32_t header) { return mem().read32(header + kLength); }
    uint32_t recordedOf(uint32_t header) { return mem().read32(header + kRecorded); }

    uint32_t prepare(uint32_t header) { return bench.call("waveInPrepareHeader", {device, header, kHeaderSize}); }
    uint32_t add(uint32_t header) { return bench.call("waveInAddBuffer", {device, header, kHeaderSize}); }
    // dwBufferLength as the platform received it in its latest header call.
    uint32_t lengthPlatformSaw() { return audio().headerEvents().back().bufferLength; }

    // The callback, called as the platform would on its callback thread.
    CallResult notify(uint32_t message, uint32_t header) {
        bench.fake().setThread(bench::FakeCoredll::kCallbackThread);
        CallResult result = bench.callAddress(moduleCallback, {device, message, kInstance, header, 0});
        bench.fake().setThread(bench::FakeCoredll::kMainThread);
        return result;
    }

    uint32_t moduleStateAddress() {
        imagewriter::ElfSymbol symbol = elfSymbol("moduleState");
        EXPECT_EQ(symbol.size, 0x1Cu) << "ModuleState's layout changed; the slot offset needs a look";
        return symbol.value - bench.image().preferredBase + bench.image().base;
    }

    Bench bench;
    uint32_t counter = 0, callerCallback = 0, format = 0, handleOut = 0;
    uint32_t device = 0, moduleCallback = 0;
};

bool inModuleCode(const Bench& bench, uint32_t address) {
    for (auto [start, end] : bench.image().codeRanges())
        if (address >= start && address < end) return true;
    return false;
}

// --- Open ---------------------------------------------------------------------

struct OpenCase {
    uint32_t rate;
    uint32_t flags;
};

class CaptureOpen : public CaptureDevice, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(CaptureOpen, OpensAtTheDeviceRateWithTheModulesCallback) {
    const OpenCase c = GetParam();
    std::vector<uint8_t> asked = pcmFormat(c.rate);
    mem().writeBytes(format, asked);

    ASSERT_EQ(open(c.flags, bench::WAVE_MAPPER), 0u);

    ASSERT_EQ(audio().opens().size(), 1u);
    const bench::WaveOpen& seen = audio().opens().back();
    std::vector<uint8_t> expected = withRate(asked, 8000);
    EXPECT_EQ(seen.format, expected) << "the platform sees 8000 and every other field as asked";
    EXPECT_EQ(mem().readBytes(format, bench::kWaveFormatSize), expected) << "the caller's record keeps 8000";
    EXPECT_EQ(seen.avgBytesPerSec(), 0x12345678u);
    EXPECT_EQ(seen.blockAlign(), 6u);
    EXPECT_EQ(seen.flags, bench::CALLBACK_FUNCTION);
    EXPECT_NE(seen.callback, callerCallback);
    EXPECT_TRUE(inModuleCode(bench, seen.callback)) << std::hex << seen.callback;
    EXPECT_EQ(seen.instance, kInstance);
    EXPECT_EQ(seen.deviceId, bench::WAVE_MAPPER);
    EXPECT_EQ(bench.fake().callsTo("waveInOpen").back().args[0], handleOut);
    // A real open, also for a format query.
    ASSERT_NE(seen.handle, 0u);
    EXPECT_EQ(mem().read32(handleOut), seen.handle);
    EXPECT_TRUE(audio().isOpen(seen.handle));
    EXPECT_EQ(callerNotifications(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    RatesAndFlags, CaptureOpen,
    ::testing::Values(OpenCase{16000, bench::CALLBACK_FUNCTION}, OpenCase{8000, bench::CALLBACK_FUNCTION},
                      OpenCase{11025, CALLBACK_WINDOW}, OpenCase{44100, CALLBACK_THREAD},
                      OpenCase{22050, CALLBACK_EVENT}, OpenCase{0, CALLBACK_NULL},
                      OpenCase{16000, bench::WAVE_FORMAT_QUERY},
                      OpenCase{16000, bench::WAVE_FORMAT_QUERY | bench::CALLBACK_FUNCTION}));

// --- The full cycle -----------------------------------------------------------

TEST_F(CaptureDevice, FullBuffersGoRoundTheCycleAndComeBackDoubled) {
    openDevice();
    uint32_t header = newHeader(320);
    uint32_t data = dataOf(header);

    ASSERT_EQ(prepare(header), 0u);
    EXPECT_EQ(lengthPlatformSaw(), 160u);
    EXPECT_EQ(lengthOf(header), 160u);
    ASSERT_EQ(add(header), 0u);
    EXPECT_EQ(lengthPlatformSaw(), 160u);
    EXPECT_EQ(lengthOf(header), 160u);
    ASSERT_EQ(bench.call("waveInStart", {device}), 0u);

    for (uint32_t n : {160u, 2u, 0u, 160u, 98u, 160u}) {
        SCOPED_TRACE("device fills " + std::to_string(n) + " bytes");
        std::vector<uint8_t> before = mem().readBytes(data, 320);
        std::vector<uint8_t> captured = pattern(n, uint8_t(n + 1));
        CallResult delivered = bench.deliverCapture(device, captured);
        ASSERT_TRUE(delivered.ok()) << delivered.describe();

        // The application reads the buffer.
        EXPECT_EQ(lengthOf(header), 320u);
        EXPECT_EQ(recordedOf(header), 2 * n);
        std::vector<uint8_t> got = mem().readBytes(data, 320);
        for (uint32_t k = 0; k < n / 2; ++k) {
            for (uint32_t copy : {2 * k, 2 * k + 1}) {
                ASSERT_EQ(got[2 * copy], captured[2 * k]) << "frame " << k << " at frame " << copy;
                ASSERT_EQ(got[2 * copy + 1], captured[2 * k + 1]) << "frame " << k << " at frame " << copy;
            }
        }
        EXPECT_TRUE(std::equal(got.begin() + 2 * n, got.end(), before.begin() + 2 * n))
            << "bytes from 2N on stay as they were";

        // ... and adds it again.
        ASSERT_EQ(add(header), 0u);
        EXPECT_EQ(lengthPlatformSaw(), 160u);
        EXPECT_EQ(lengthOf(header), 160u);
    }
    // The last buffer comes back through the reset, empty.
    ASSERT_EQ(bench.call("waveInReset", {device}), 0u);
    EXPECT_EQ(lengthOf(header), 320u);
    EXPECT_EQ(recordedOf(header), 0u);

    EXPECT_EQ(mem().read32(header + kUser), 0x11223344u);
    EXPECT_EQ(mem().read32(header + kLoops), 0x55667788u);
    EXPECT_EQ(mem().read32(header + kNext), 0x99AABBCCu);
    EXPECT_EQ(mem().read32(header + kFlags) & bench::WHDR_DONE, bench::WHDR_DONE);
    EXPECT_EQ(callerNotifications(), 0u) << "open, every delivery and the close went to the module alone";
}

TEST_F(CaptureDevice, TheCallersCallbackIsNeverCalled) {
    // The counter does count when called.
    ASSERT_TRUE(bench.callAddress(callerCallback, {}).ok());
    ASSERT_EQ(callerNotifications(), 1u);
    mem().write32(counter, 0);

    openDevice();
    uint32_t header = newHeader(320);
    ASSERT_EQ(prepare(header), 0u);
    ASSERT_EQ(add(header), 0u);
    ASSERT_TRUE(bench.deliverCapture(device, pattern(160, 3)).ok());
    ASSERT_EQ(add(header), 0u);
    ASSERT_EQ(bench.call("waveInStop", {device}), 0u);
    ASSERT_EQ(bench.callCoredll("waveInReset", {device}).r0, 0u);  // returns the buffer, WIM_DATA
    ASSERT_EQ(bench.call("waveInUnprepareHeader", {device, header, kHeaderSize}), 0u);
    EXPECT_EQ(lengthPlatformSaw(), 320u) << "unprepare gets the length the last delivery left";
    ASSERT_EQ(bench.call("waveInClose", {device}), 0u);  // WIM_CLOSE
    EXPECT_EQ(callerNotifications(), 0u);
}

// --- The doubling, at every buffer alignment -------------------------------------

struct Doubling {
    uint32_t misalign;  // of the buffer, modulo 4
    uint32_t recorded;
    uint32_t headerMisalign;  // 0: the header's fields are read and written a word at a time
};

class CaptureDoubling : public CaptureDevice, public ::testing::WithParamInterface<Doubling> {};

TEST_P(CaptureDoubling, MatchesTheByteStepsExactly) {
    const Doubling c = GetParam();
    openDevice();
    uint32_t header = newHeader(320, Placement::atEnd(c.misalign), Placement::atEnd(c.headerMisalign));
    uint32_t data = dataOf(header);
    ASSERT_EQ(data % 4, c.misalign);
    ASSERT_EQ(prepare(header), 0u);
    ASSERT_EQ(add(header), 0u);

    std::vector<uint8_t> captured = pattern(c.recorded, 0xC1);
    std::vector<uint8_t> expected = mem().readBytes(data, 320);
    std::copy(captured.begin(), captured.end(), expected.begin());
    duplicateSamplesByteByByte(expected.data(), c.recorded);

    CallResult delivered = bench.deliverCapture(device, captured);
    ASSERT_TRUE(delivered.ok()) << delivered.describe();
    EXPECT_EQ(mem().readBytes(data, 320), expected);
    EXPECT_EQ(recordedOf(header), 2 * c.recorded);
    EXPECT_EQ(lengthOf(header), 320u);
}

std::vector<Doubling> everyAlignment() {
    std::vector<Doubling> cases;
    for (uint32_t misalign = 0; misalign < 4; ++misalign)
        // 20 and 36: one and two steps of eight frames, the least counts that take them.
        for (uint32_t n : {0u, 1u, 2u, 3u, 4u, 6u, 8u, 11u, 16u, 18u, 20u, 30u, 34u, 36u, 158u, 159u, 160u})
            for (uint32_t headerMisalign : {1u, 0u}) cases.push_back({misalign, n, headerMisalign});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AlignmentsAndCounts, CaptureDoubling, ::testing::ValuesIn(everyAlignment()));

TEST_F(CaptureDevice, WorkedExamples) {
    openDevice();
    uint32_t header = newHeader(320);
    uint32_t data = dataOf(header);
    ASSERT_EQ(prepare(header), 0u);
    ASSERT_EQ(add(header), 0u);
    ASSERT_TRUE(bench.deliverCapture(device, {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17}).ok());
    EXPECT_EQ(mem().readBytes(data, 16), (std::vector<uint8_t>{0x10, 0x11, 0x10, 0x11, 0x12, 0x13, 0x12, 0x13,
                                                                0x14, 0x15, 0x14, 0x15, 0x16, 0x17, 0x16, 0x17}));
    EXPECT_EQ(recordedOf(header), 16u);
    EXPECT_EQ(lengthOf(header), 320u);

    // An odd count leaves byte 0 alone: b0 b1 b2 becomes b0 b1 b1 b1 b1 b1.
    ASSERT_EQ(add(header), 0u);
    ASSERT_TRUE(bench.deliverCapture(device, {0xB0, 0xB1, 0xB2}).ok());
    EXPECT_EQ(mem().readBytes(data, 6), (std::vector<uint8_t>{0xB0, 0xB1, 0xB1, 0xB1, 0xB1, 0xB1}));
    EXPECT_EQ(recordedOf(header), 6u);
}

// --- Messages other than WIM_DATA ------------------------------------------------

TEST_F(CaptureDevice, OnlyWimDataChangesAnything) {
    openDevice();
    uint32_t header = newHeader(320);
    uint32_t data = dataOf(header);
    ASSERT_EQ(prepare(header), 0u);
    ASSERT_EQ(add(header), 0u);
    // The device fills the buffer; its notification is held back.
    ASSERT_TRUE(audio().fillNext(mem(), device, pattern(160, 0x21)).has_value());
    std::vector<uint8_t> headerBefore = mem().readBytes(header, kHeaderSize);
    std::vector<uint8_t> dataBefore = mem().readBytes(data, 320);

    for (uint32_t message : {bench::WIM_OPEN, bench::WIM_CLOSE, bench::WOM_OPEN, bench::WOM_CLOSE, bench::WOM_DONE,
                             0u, bench::WIM_DATA + 1, bench::WIM_DATA | 0x10000, 0xFFFFFFFFu}) {
        SCOPED_TRACE("message " + std::to_string(message));
        CallResult result = notify(message, header);
        ASSERT_TRUE(result.ok()) << result.describe();
        EXPECT_EQ(mem().readBytes(header, kHeaderSize), headerBefore);
        EXPECT_EQ(mem().readBytes(data, 320), dataBefore);
    }
    ASSERT_TRUE(notify(bench::WIM_DATA, header).ok());
    EXPECT_EQ(recordedOf(header), 320u);
    EXPECT_NE(mem().readBytes(data, 320), dataBefore);
}

// --- Failures and null records ---------------------------------------------------

TEST_F(CaptureDevice, FailedCallsKeepWhatTheModuleWrote) {
    EXPECT_EQ(open(bench::CALLBACK_FUNCTION, 7), bench::MMSYSERR_BADDEVICEID);
    EXPECT_EQ(audio().opens().back().samplesPerSec(), 8000u);
    EXPECT_EQ(mem().readBytes(format, bench::kWaveFormatSize), withRate(pcmFormat(16000), 8000));
    EXPECT_EQ(mem().read32(handleOut), 0xA5A5A5A5u);

    openDevice();
    uint32_t header = newHeader(320);
    device = 0x0C0FFEE0;  // no such device
    EXPECT_EQ(prepare(header), bench::MMSYSERR_INVALHANDLE);
    EXPECT_EQ(lengthOf(header), 160u);

    device = mem().read32(handleOut);
    ASSERT_EQ(prepare(header), 0u);
    mem().write32(header + kLength, 320);
    bench.fake().scriptNext("waveInAddBuffer", bench::Outcome::returns(bench::MMSYSERR_INVALPARAM));
    EXPECT_EQ(add(header), bench::MMSYSERR_INVALPARAM);
    EXPECT_EQ(lengthOf(header), 160u);
}

TEST_F(CaptureDevice, NullRecordsPassThroughUnchanged) {
    uint32_t r = bench.call("waveInOpen", {handleOut, 3, 0, callerCallback, kInstance, CALLBACK_WINDOW | 1});
    EXPECT_EQ(r, bench::MMSYSERR_INVALPARAM);
    EXPECT_EQ(bench.fake().callsTo("waveInOpen").back().args,
              (std::vector<uint32_t>{handleOut, 3, 0, callerCallback, kInstance, CALLBACK_WINDOW | 1}));
    EXPECT_EQ(mem().read32(handleOut), 0xA5A5A5A5u);

    openDevice();
    for (const char* fn : {"waveInPrepareHeader", "waveInAddBuffer"}) {
        SCOPED_TRACE(fn);
        CallResult result = bench.tryCall(fn, {device, 0, kHeaderSize});
        ASSERT_TRUE(result.ok()) << result.describe();
        EXPECT_EQ(result.r0, bench::MMSYSERR_INVALPARAM);
        EXPECT_EQ(bench.fake().callsTo(fn).back().args, (std::vector<uint32_t>{device, 0, kHeaderSize}));
    }
}

// --- Buffers under 320 bytes and a device that reports more than it was given ----

struct SmallBuffer {
    uint32_t capacity;
    uint32_t reported;            // what the device claims in dwBytesRecorded; 0: what it filled
    uint32_t headerMisalign = 1;  // 0: the header's fields a word at a time
};

class CaptureBounds : public CaptureDevice, public ::testing::WithParamInterface<SmallBuffer> {};

TEST_P(CaptureBounds, NothingIsWrittenPastTheBuffer) {
    const SmallBuffer c = GetParam();
    openDevice();
    // A guard page right after the buffer's last byte.
    uint32_t header = newHeader(c.capacity, Placement::exactEnd(), Placement::atEnd(c.headerMisalign));
    uint32_t data = dataOf(header);
    ASSERT_EQ(prepare(header), 0u);
    EXPECT_LE(2 * lengthPlatformSaw(), c.capacity);
    ASSERT_EQ(add(header), 0u);

    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        uint32_t announced = lengthPlatformSaw();
        EXPECT_EQ(announced % 2, 0u);
        EXPECT_LE(2 * announced, c.capacity);
        if (c.capacity >= 320) {
            EXPECT_EQ(announced, 160u);
        }

        std::vector<uint8_t> captured = pattern(400, uint8_t(0x30 + round));  // more than any buffer takes
        ASSERT_TRUE(audio().fillNext(mem(), device, captured).has_value());
        uint32_t filled = recordedOf(header);
        ASSERT_EQ(filled, announced) << "the device fills what it was told";
        uint32_t reported = c.reported ? c.reported : filled;
        mem().write32(header + kRecorded, reported);

        CallResult result = notify(bench::WIM_DATA, header);
        ASSERT_TRUE(result.ok()) << result.describe();
        uint32_t doubled = std::min(reported, announced);
        EXPECT_EQ(recordedOf(header), 2 * doubled);
        EXPECT_EQ(lengthOf(header), 2 * announced);
        std::vector<uint8_t> expected(captured.begin(), captured.begin() + doubled);
        expected.resize(2 * doubled);
        duplicateSamplesByteByByte(expected.data(), doubled);
        EXPECT_EQ(mem().readBytes(data, 2 * doubled), expected);

        ASSERT_EQ(add(header), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(CapacitiesAndReports, CaptureBounds,
                         ::testing::Values(SmallBuffer{200, 400}, SmallBuffer{100, 400}, SmallBuffer{200, 0},
                                           SmallBuffer{160, 320}, SmallBuffer{162, 0}, SmallBuffer{319, 1000},
                                           SmallBuffer{6, 400}, SmallBuffer{3, 400}, SmallBuffer{320, 400},
                                           SmallBuffer{320, 0xFFFFFFFF}, SmallBuffer{640, 0}, SmallBuffer{200, 400, 0},
                                           SmallBuffer{3, 400, 0}, SmallBuffer{320, 0xFFFFFFFF, 0}));

// --- A device already allocated ------------------------------------------------------

TEST_F(CaptureDevice, AllocatedWithAnEmptySlotReachesTheCaller) {
    uint32_t slot = moduleStateAddress() + kSlotOffset;
    ASSERT_EQ(mem().read32(slot), 0u);
    audio().setAllocated(true);
    bench.fake().clearLog();

    EXPECT_EQ(open(), bench::MMSYSERR_ALLOCATED);
    EXPECT_EQ(bench.fake().countOf("waveInOpen"), 1u);
    EXPECT_EQ(bench.fake().countOf("waveInClose"), 0u);
    EXPECT_EQ(mem().read32(handleOut), 0xA5A5A5A5u);
    EXPECT_EQ(mem().readBytes(format, bench::kWaveFormatSize), withRate(pcmFormat(16000), 8000));
}

struct StaleSlot {
    const char* name;
    bool staleIsOpen;               // else the close fails
    std::optional<uint32_t> retry;  // the second open's scripted result; none: it really opens
};

class CaptureStaleSlot : public CaptureDevice, public ::testing::WithParamInterface<StaleSlot> {};

TEST_P(CaptureStaleSlot, ClosesTheStaleHandleAndOpensAgainWithTheSameArguments) {
    const StaleSlot c = GetParam();
    uint32_t slot = moduleStateAddress() + kSlotOffset;
    ASSERT_EQ(mem().read32(slot), 0u);

    uint32_t stale = 0x0BADF00D;
    if (c.staleIsOpen) {
        uint32_t out = bench.allocate(4);
        ASSERT_EQ(bench.callCoredll("waveInOpen", {out, 0, format, 0, 0, CALLBACK_NULL}).r0, 0u);
        stale = mem().read32(out);
    }
    mem().write32(slot, stale);
    bench.fake().clearLog();
    bench.fake().scriptNext("waveInOpen", bench::Outcome::returns(bench::MMSYSERR_ALLOCATED));
    if (c.retry) bench.fake().scriptNext("waveInOpen", bench::Outcome::returns(*c.retry));

    uint32_t result = open(CALLBACK_WINDOW);

    std::vector<std::string> names;
    for (const bench::LoggedCall& call : bench.fake().calls()) names.push_back(call.name);
    ASSERT_EQ(names, (std::vector<std::string>{"waveInOpen", "waveInClose", "waveInOpen"}));
    const std::vector<bench::LoggedCall>& calls = bench.fake().calls();
    EXPECT_EQ(calls[1].args, std::vector<uint32_t>{stale});
    EXPECT_EQ(calls[1].result, c.staleIsOpen ? 0u : bench::MMSYSERR_INVALHANDLE);
    EXPECT_EQ(calls[2].args, calls[0].args) << "the same six arguments";
    ASSERT_EQ(calls[0].args.size(), 6u);
    EXPECT_EQ(calls[0].args[0], handleOut);
    EXPECT_EQ(calls[0].args[2], format);
    EXPECT_TRUE(inModuleCode(bench, calls[0].args[3])) << "the module's callback";
    EXPECT_EQ(calls[0].args[4], kInstance);
    EXPECT_EQ(calls[0].args[5], bench::CALLBACK_FUNCTION);
    EXPECT_EQ(result, calls[2].result) << "the second open's result";
    EXPECT_EQ(result, c.retry.value_or(0u));
    EXPECT_EQ(mem().read32(slot), 0u) << "the slot is cleared";
    EXPECT_FALSE(audio().isOpen(stale));
    if (!c.retry) {
        EXPECT_TRUE(audio().isOpen(mem().read32(handleOut)));
    }

    // The slot is empty now: the next refusal reaches the caller.
    bench.fake().clearLog();
    bench.fake().scriptNext("waveInOpen", bench::Outcome::returns(bench::MMSYSERR_ALLOCATED));
    EXPECT_EQ(open(), bench::MMSYSERR_ALLOCATED);
    EXPECT_EQ(bench.fake().countOf("waveInOpen"), 1u);
    EXPECT_EQ(bench.fake().countOf("waveInClose"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Slot, CaptureStaleSlot,
    ::testing::Values(StaleSlot{"RetrySucceeds", true, std::nullopt},
                      StaleSlot{"CloseFailsRetrySucceeds", false, std::nullopt},
                      StaleSlot{"RetryStillAllocated", true, bench::MMSYSERR_ALLOCATED},
                      StaleSlot{"RetryFailsOtherwise", true, bench::MMSYSERR_BADDEVICEID}),
    [](const ::testing::TestParamInfo<StaleSlot>& info) { return std::string(info.param.name); });

}  // namespace
