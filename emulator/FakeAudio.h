// Audio: waveform capture and playback devices, and sound playing.
// Honours: results are the platform's multimedia codes (0 success, 4 when
// the device is already allocated, 5 for a handle that is not open, so a
// second close of a handle returns 5); a capture device fills at most the
// queued header's dwBufferLength bytes, reports the count in
// dwBytesRecorded and calls the function callback with WIM_DATA and the
// header's address on the emulated core; PlaySoundW and sndPlaySoundW are
// recorded.
#pragma once

#include "emulator/Handles.h"
#include "emulator/Memory.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace bench {

class FakeCoredll;

constexpr uint32_t MMSYSERR_NOERROR = 0;
constexpr uint32_t MMSYSERR_BADDEVICEID = 2;
constexpr uint32_t MMSYSERR_ALLOCATED = 4;
constexpr uint32_t MMSYSERR_INVALHANDLE = 5;
constexpr uint32_t MMSYSERR_INVALPARAM = 11;
constexpr uint32_t WAVERR_BADFORMAT = 32;
constexpr uint32_t WAVERR_STILLPLAYING = 33;
constexpr uint32_t WAVERR_UNPREPARED = 34;
constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFF;
constexpr uint32_t WAVE_FORMAT_QUERY = 0x0001;
constexpr uint32_t CALLBACK_TYPEMASK = 0x00070000;
constexpr uint32_t CALLBACK_FUNCTION = 0x00030000;
constexpr uint32_t WIM_OPEN = 0x3BE;
constexpr uint32_t WIM_CLOSE = 0x3BF;
constexpr uint32_t WIM_DATA = 0x3C0;
constexpr uint32_t WOM_OPEN = 0x3BB;
constexpr uint32_t WOM_CLOSE = 0x3BC;
constexpr uint32_t WOM_DONE = 0x3BD;
constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;
constexpr uint32_t kWaveHeaderSize = 32;  // WAVEHDR: lpData, dwBufferLength, dwBytesRecorded, dwUser, dwFlags, dwLoops, lpNext, reserved
constexpr uint32_t kWaveFormatSize = 18;  // WAVEFORMATEX up to and including cbSize

// WAVEFORMATEX for 16-bit mono PCM at 16000 samples a second, cbSize 0.
inline std::vector<uint8_t> pcm16000Format() { return {1, 0, 1, 0, 0x80, 0x3E, 0, 0, 0, 0x7D, 0, 0, 2, 0, 16, 0, 0, 0}; }

struct WaveOpen {
    bool input = true;
    uint32_t deviceId = 0;
    uint32_t formatAddress = 0;
    std::vector<uint8_t> format;  // the record's bytes as the open saw them
    uint32_t callback = 0, instance = 0, flags = 0;
    uint32_t result = 0;
    uint32_t handle = 0;  // 0 unless a device was opened

    uint32_t samplesPerSec() const { return le32(4); }
    uint32_t avgBytesPerSec() const { return le32(8); }
    uint16_t blockAlign() const { return uint16_t(le32(12)); }
    uint16_t bitsPerSample() const { return uint16_t(le32(14)); }

private:
    uint32_t le32(size_t at) const {
        uint32_t v = 0;
        for (size_t i = 0; i < 4 && at + i < format.size(); ++i) v |= uint32_t(format[at + i]) << (8 * i);
        return v;
    }
};

struct HeaderEvent {
    enum Kind { Prepare, Add, Unprepare, Write } kind = Prepare;
    uint32_t device = 0;
    uint32_t header = 0;
    uint32_t bufferLength = 0;  // dwBufferLength as the platform received it
    uint32_t data = 0;          // lpData
    uint32_t size = 0;          // the header-size argument
    uint32_t result = 0;
};

struct SoundPlayed {
    std::string function;                // "PlaySoundW" or "sndPlaySoundW"
    std::optional<std::u16string> name;  // when the argument was a string
    uint32_t nameArgument = 0;
    uint32_t module = 0;
    uint32_t flags = 0;
};

// A callback the platform owes the program: run it on the emulated core.
struct Notification {
    uint32_t callback = 0;
    std::vector<uint32_t> args;  // handle, message, instance, param1, param2
};

class Audio {
public:
    explicit Audio(HandleLedger& handles) : handles_(handles) {}

    void setDeviceCounts(uint32_t inputs, uint32_t outputs);
    // While set, opens fail with MMSYSERR_ALLOCATED.
    void setAllocated(bool allocated) { allocated_ = allocated; }
    // Whether opens and closes send WIM_OPEN/WIM_CLOSE (WOM_*) to a function
    // callback, and resets return queued buffers with WIM_DATA, as the device does.
    void setLifecycleNotifications(bool on) { lifecycle_ = on; }
    bool lifecycleNotifications() const { return lifecycle_; }

    const std::vector<WaveOpen>& opens() const { return opens_; }
    const std::vector<HeaderEvent>& headerEvents() const { return headerEvents_; }
    const std::vector<uint32_t>& closedHandles() const { return closed_; }
    const std::vector<SoundPlayed>& sounds() const { return sounds_; }
    std::vector<uint32_t> queued(uint32_t device) const;
    bool isOpen(uint32_t device) const { return devices_.count(device) != 0; }

    // The device fills the next queued buffer of a capture device with at
    // most dwBufferLength bytes of `data`; returns the WIM_DATA notification
    // owed to a function callback. Throws BenchMisuse when nothing is queued.
    std::optional<Notification> fillNext(Memory& memory, uint32_t device, const std::vector<uint8_t>& data);

    // For the handlers.
    struct Device {
        bool input = true;
        uint32_t callback = 0, instance = 0, flags = 0;
        std::deque<uint32_t> queue;
        bool started = false;
    };
    HandleLedger& handles() { return handles_; }
    uint32_t deviceCount(bool input) const { return input ? inputs_ : outputs_; }
    bool allocated() const { return allocated_; }
    Device* device(uint32_t handle, bool input);
    uint32_t open(bool input, const WaveOpen& record);
    void close(uint32_t handle);
    void noteOpen(WaveOpen open) { opens_.push_back(std::move(open)); }
    void noteHeader(HeaderEvent event) { headerEvents_.push_back(event); }
    void noteSound(SoundPlayed sound) { sounds_.push_back(std::move(sound)); }
    std::optional<Notification> notification(uint32_t handle, uint32_t message, uint32_t param1) const;

private:
    HandleLedger& handles_;
    uint32_t inputs_ = 1, outputs_ = 1;
    bool allocated_ = false;
    bool lifecycle_ = true;
    std::map<uint32_t, Device> devices_;
    std::vector<WaveOpen> opens_;
    std::vector<HeaderEvent> headerEvents_;
    std::vector<uint32_t> closed_;
    std::vector<SoundPlayed> sounds_;
};

void defineAudio(FakeCoredll& fake);

}  // namespace bench
