#include "emulator/FakeAudio.h"

#include "emulator/Fake.h"

namespace bench {
namespace {

constexpr uint32_t kDataOffset = 0;
constexpr uint32_t kBufferLengthOffset = 4;
constexpr uint32_t kBytesRecordedOffset = 8;
constexpr uint32_t kFlagsOffset = 16;
constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint32_t SND_MEMORY = 0x0004;
constexpr uint32_t SND_RESOURCE_BIT = 0x00040000;  // with SND_MEMORY forms SND_RESOURCE

void deliver(CallContext& call, const std::optional<Notification>& notification) {
    if (notification) call.callEmulated(notification->callback, notification->args, FakeCoredll::kCallbackThread);
}

void setFlags(Memory& memory, uint32_t header, uint32_t set, uint32_t clear) {
    memory.write32(header + kFlagsOffset, (memory.read32(header + kFlagsOffset) | set) & ~clear);
}

}  // namespace

void Audio::setDeviceCounts(uint32_t inputs, uint32_t outputs) {
    inputs_ = inputs;
    outputs_ = outputs;
}

std::vector<uint32_t> Audio::queued(uint32_t device) const {
    auto it = devices_.find(device);
    if (it == devices_.end()) return {};
    return std::vector<uint32_t>(it->second.queue.begin(), it->second.queue.end());
}

Audio::Device* Audio::device(uint32_t handle, bool input) {
    auto it = devices_.find(handle);
    return it == devices_.end() || it->second.input != input ? nullptr : &it->second;
}

uint32_t Audio::open(bool input, const WaveOpen& record) {
    uint32_t handle = handles_.acquire(input ? HandleKind::WaveIn : HandleKind::WaveOut,
                                       input ? "capture device" : "playback device");
    devices_[handle] = Device{input, record.callback, record.instance, record.flags, {}, false};
    return handle;
}

void Audio::close(uint32_t handle) {
    auto it = devices_.find(handle);
    handles_.release(handle, it->second.input ? HandleKind::WaveIn : HandleKind::WaveOut);
    devices_.erase(it);
    closed_.push_back(handle);
}

std::optional<Notification> Audio::notification(uint32_t handle, uint32_t message, uint32_t param1) const {
    auto it = devices_.find(handle);
    if (it == devices_.end() || (it->second.flags & CALLBACK_TYPEMASK) != CALLBACK_FUNCTION || !it->second.callback)
        return std::nullopt;
    return Notification{it->second.callback, {handle, message, it->second.instance, param1, 0}};
}

std::optional<Notification> Audio::fillNext(Memory& memory, uint32_t handle, const std::vector<uint8_t>& data) {
    Device* d = device(handle, true);
    if (!d) throw BenchMisuse("fillNext: " + hex(handle) + " is not an open capture device");
    if (d->queue.empty()) throw BenchMisuse("fillNext: no buffer is queued on " + hex(handle));
    uint32_t header = d->queue.front();
    d->queue.pop_front();
    uint32_t capacity = memory.read32(header + kBufferLengthOffset);
    uint32_t count = uint32_t(std::min<size_t>(capacity, data.size()));
    memory.write(memory.read32(header + kDataOffset), data.data(), count);
    memory.write32(header + kBytesRecordedOffset, count);
    setFlags(memory, header, WHDR_DONE, WHDR_INQUEUE);
    return notification(handle, WIM_DATA, header);
}

void defineAudio(FakeCoredll& fake) {
    Audio& audio = fake.audio();
    Memory& memory = fake.memory();

    // waveInOpen / waveOutOpen(phw, uDeviceID, pwfx, dwCallback, dwInstance, fdwOpen)
    auto defineOpen = [&](const char* name, bool input) {
        fake.define(name, 6, Outcome::returns(MMSYSERR_ALLOCATED), [&audio, &memory, input](CallContext& call) -> uint32_t {
            WaveOpen record;
            record.input = input;
            record.deviceId = call.arg(1);
            record.formatAddress = call.arg(2);
            record.callback = call.arg(3);
            record.instance = call.arg(4);
            record.flags = call.arg(5);
            auto finish = [&](uint32_t result) {
                record.result = result;
                audio.noteOpen(record);
                return result;
            };
            if (!record.formatAddress) return finish(MMSYSERR_INVALPARAM);
            record.format = memory.readBytes(record.formatAddress, kWaveFormatSize);
            uint16_t tag = uint16_t(record.format[0] | record.format[1] << 8);
            if (tag != WAVE_FORMAT_PCM) {
                uint16_t extra = uint16_t(record.format[16] | record.format[17] << 8);
                std::vector<uint8_t> more = memory.readBytes(record.formatAddress + kWaveFormatSize, extra);
                record.format.insert(record.format.end(), more.begin(), more.end());
            }
            if (record.deviceId != WAVE_MAPPER && record.deviceId >= audio.deviceCount(input))
                return finish(MMSYSERR_BADDEVICEID);
            if (tag != WAVE_FORMAT_PCM || record.samplesPerSec() == 0 || record.blockAlign() == 0)
                return finish(WAVERR_BADFORMAT);
            if (record.flags & WAVE_FORMAT_QUERY) return finish(MMSYSERR_NOERROR);
            if (audio.allocated()) return finish(MMSYSERR_ALLOCATED);
            if (!call.arg(0)) return finish(MMSYSERR_INVALPARAM);
            record.handle = audio.open(input, record);
            memory.write32(call.arg(0), record.handle);
            finish(MMSYSERR_NOERROR);
            if (audio.lifecycleNotifications())
                deliver(call, audio.notification(record.handle, input ? WIM_OPEN : WOM_OPEN, 0));
            return MMSYSERR_NOERROR;
        });
    };
    defineOpen("waveInOpen", true);
    defineOpen("waveOutOpen", false);

    // waveInClose / waveOutClose(hw): a handle already closed gets MMSYSERR_INVALHANDLE.
    auto defineClose = [&](const char* name, bool input) {
        fake.define(name, 1, Outcome::returns(MMSYSERR_INVALHANDLE), [&audio, input](CallContext& call) -> uint32_t {
            Audio::Device* d = audio.device(call.arg(0), input);
            if (!d) return MMSYSERR_INVALHANDLE;
            if (!d->queue.empty()) return WAVERR_STILLPLAYING;
            std::optional<Notification> closing = audio.lifecycleNotifications()
                                                      ? audio.notification(call.arg(0), input ? WIM_CLOSE : WOM_CLOSE, 0)
                                                      : std::nullopt;
            audio.close(call.arg(0));
            deliver(call, closing);
            return MMSYSERR_NOERROR;
        });
    };
    defineClose("waveInClose", true);
    defineClose("waveOutClose", false);

    // Header functions (hw, pwh, cbwh). The buffer that a header announces
    // must be there to be filled or played.
    auto defineHeader = [&](const char* name, bool input, HeaderEvent::Kind kind) {
        fake.define(name, 3, Outcome::returns(MMSYSERR_INVALHANDLE), [&audio, &memory, input, kind](CallContext& call) -> uint32_t {
            HeaderEvent event{kind, call.arg(0), call.arg(1), 0, 0, call.arg(2), 0};
            auto finish = [&](uint32_t result) {
                event.result = result;
                audio.noteHeader(event);
                return result;
            };
            Audio::Device* d = audio.device(event.device, input);
            if (!d) return finish(MMSYSERR_INVALHANDLE);
            if (!event.header || event.size < kWaveHeaderSize) return finish(MMSYSERR_INVALPARAM);
            event.data = memory.read32(event.header + kDataOffset);
            event.bufferLength = memory.read32(event.header + kBufferLengthOffset);
            uint32_t flags = memory.read32(event.header + kFlagsOffset);
            bool queuedHere = std::find(d->queue.begin(), d->queue.end(), event.header) != d->queue.end();
            switch (kind) {
            case HeaderEvent::Prepare:
                if (!memory.has(event.data, event.bufferLength, input ? kRead | kWrite : kRead))
                    return finish(MMSYSERR_INVALPARAM);
                setFlags(memory, event.header, WHDR_PREPARED, WHDR_DONE);
                break;
            case HeaderEvent::Unprepare:
                if (queuedHere) return finish(WAVERR_STILLPLAYING);
                setFlags(memory, event.header, 0, WHDR_PREPARED);
                break;
            case HeaderEvent::Add:
            case HeaderEvent::Write:
                if (!(flags & WHDR_PREPARED)) return finish(WAVERR_UNPREPARED);
                if (queuedHere) return finish(WAVERR_STILLPLAYING);
                if (!memory.has(event.data, event.bufferLength, input ? kRead | kWrite : kRead))
                    return finish(MMSYSERR_INVALPARAM);
                setFlags(memory, event.header, WHDR_INQUEUE, WHDR_DONE);
                d->queue.push_back(event.header);
                break;
            }
            return finish(MMSYSERR_NOERROR);
        });
    };
    defineHeader("waveInPrepareHeader", true, HeaderEvent::Prepare);
    defineHeader("waveInUnprepareHeader", true, HeaderEvent::Unprepare);
    defineHeader("waveInAddBuffer", true, HeaderEvent::Add);
    defineHeader("waveOutPrepareHeader", false, HeaderEvent::Prepare);
    defineHeader("waveOutUnprepareHeader", false, HeaderEvent::Unprepare);
    defineHeader("waveOutWrite", false, HeaderEvent::Write);

    // waveInStart / waveInStop(hwi)
    auto defineRun = [&](const char* name, bool start) {
        fake.define(name, 1, Outcome::returns(MMSYSERR_INVALHANDLE), [&audio, start](CallContext& call) -> uint32_t {
            Audio::Device* d = audio.device(call.arg(0), true);
            if (!d) return MMSYSERR_INVALHANDLE;
            d->started = start;
            return MMSYSERR_NOERROR;
        });
    };
    defineRun("waveInStart", true);
    defineRun("waveInStop", false);

    // waveInReset / waveOutReset(hw): every queued buffer comes back done,
    // each with its notification.
    auto defineReset = [&](const char* name, bool input) {
        fake.define(name, 1, Outcome::returns(MMSYSERR_INVALHANDLE), [&audio, &memory, input](CallContext& call) -> uint32_t {
            uint32_t handle = call.arg(0);
            Audio::Device* d = audio.device(handle, input);
            if (!d) return MMSYSERR_INVALHANDLE;
            std::deque<uint32_t> returned;
            returned.swap(d->queue);
            d->started = false;
            for (uint32_t header : returned) {
                if (input) memory.write32(header + kBytesRecordedOffset, 0);
                setFlags(memory, header, WHDR_DONE, WHDR_INQUEUE);
                if (audio.lifecycleNotifications())
                    deliver(call, audio.notification(handle, input ? WIM_DATA : WOM_DONE, header));
            }
            return MMSYSERR_NOERROR;
        });
    };
    defineReset("waveInReset", true);
    defineReset("waveOutReset", false);

    fake.define("waveInGetNumDevs", 0, Outcome::returns(0),
                [&audio](CallContext&) -> uint32_t { return audio.deviceCount(true); });
    fake.define("waveOutGetNumDevs", 0, Outcome::returns(0),
                [&audio](CallContext&) -> uint32_t { return audio.deviceCount(false); });

    auto soundName = [&memory](SoundPlayed& sound) {
        uint32_t arg = sound.nameArgument;
        bool resource = (sound.flags & SND_RESOURCE_BIT) && arg < 0x10000;
        bool inMemory = (sound.flags & SND_MEMORY) && !(sound.flags & SND_RESOURCE_BIT);
        if (arg && !resource && !inMemory) sound.name = memory.readWString(arg);
    };

    // PlaySoundW(pszSound, hmod, fdwSound): TRUE unless scripted.
    fake.define("PlaySoundW", 3, Outcome::returns(0), [&audio, soundName](CallContext& call) -> uint32_t {
        SoundPlayed sound{"PlaySoundW", std::nullopt, call.arg(0), call.arg(1), call.arg(2)};
        soundName(sound);
        audio.noteSound(sound);
        return 1;
    });

    // sndPlaySoundW(lpszSoundName, fuSound): TRUE unless scripted.
    fake.define("sndPlaySoundW", 2, Outcome::returns(0), [&audio, soundName](CallContext& call) -> uint32_t {
        SoundPlayed sound{"sndPlaySoundW", std::nullopt, call.arg(0), 0, call.arg(1)};
        soundName(sound);
        audio.noteSound(sound);
        return 1;
    });
}

}  // namespace bench
