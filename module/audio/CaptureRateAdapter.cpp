// Capture runs the device at 8000 samples a second; every buffer it fills is
// doubled in place, so the application receives two frames for each one.
#include "module/audio/captureLengths.h"
#include "module/audio/duplicateSamples.h"
#include "module/frame/ModuleState.h"
#include "module/frame/coredll.h"
#include "module/frame/littleEndian.h"

namespace {

constexpr uint32_t kDeviceSampleRate = 8000;
constexpr uint32_t kSamplesPerSecOffset = 4;  // WAVEFORMATEX.nSamplesPerSec
constexpr uint32_t kDataOffset = 0;           // WAVEHDR.lpData
constexpr uint32_t kBufferLengthOffset = 4;   // WAVEHDR.dwBufferLength
constexpr uint32_t kBytesRecordedOffset = 8;  // WAVEHDR.dwBytesRecorded

constexpr UINT WIM_DATA = 0x3C0;
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;

// Header fields a word at a time where the header is word-aligned, as an
// application's headers are; a byte at a time anywhere else.
struct AlignedFields {
    static uint32_t read(const uint8_t* at) { return readAlignedLe32(at); }
    static void write(uint8_t* at, uint32_t value) { writeAlignedLe32(at, value); }
};

struct AnyFields {
    static uint32_t read(const uint8_t* at) { return readLe32(at); }
    static void write(uint8_t* at, uint32_t value) { writeLe32(at, value); }
};

bool isWordAligned(const void* record) { return reinterpret_cast<uintptr_t>(record) % 4 == 0; }

template <typename Fields>
void announceDeviceLengthIn(uint8_t* header, uint32_t (*announced)(uint32_t)) {
    uint8_t* length = header + kBufferLengthOffset;
    Fields::write(length, announced(Fields::read(length)));
}

// Records the length the device may fill; a null header (word-aligned too)
// is left to the platform to refuse.
inline void announceDeviceLength(void* header, uint32_t (*announced)(uint32_t)) {
    uint8_t* bytes = static_cast<uint8_t*>(header);
    if (!isWordAligned(header)) announceDeviceLengthIn<AnyFields>(bytes, announced);
    else if (header) announceDeviceLengthIn<AlignedFields>(bytes, announced);
}

// Trusts the device to have filled no more than it was announced: what
// lies beyond is not doubled.
template <typename Fields>
void deliverDoubled(uint8_t* header) {
    uint32_t announced = Fields::read(header + kBufferLengthOffset);
    if (announced > kDeviceBufferBytes) announced = kDeviceBufferBytes;
    uint32_t recorded = Fields::read(header + kBytesRecordedOffset);
    if (recorded > announced) recorded = announced;
    duplicateSamples(reinterpret_cast<uint8_t*>(Fields::read(header + kDataOffset)), recorded);
    Fields::write(header + kBufferLengthOffset, 2 * announced);
    Fields::write(header + kBytesRecordedOffset, 2 * recorded);
}

// The platform calls this on its own thread; it touches nothing but the
// header it is handed and that header's buffer.
void captureCallback(HWAVEIN, UINT message, DWORD, DWORD headerAddress, DWORD) {
    if (message != WIM_DATA) return;
    uint8_t* header = reinterpret_cast<uint8_t*>(headerAddress);
    if (!isWordAligned(header)) deliverDoubled<AnyFields>(header);
    else if (header) deliverDoubled<AlignedFields>(header);
}

}  // namespace

extern "C" MMRESULT waveInOpen(HWAVEIN* device, UINT deviceId, void* format, DWORD callback,
                               DWORD instance, DWORD flags) {
    if (!format) return coredll::waveInOpen(device, deviceId, format, callback, instance, flags);

    writeLe32(byteOffset(format, kSamplesPerSecOffset), kDeviceSampleRate);
    DWORD ourCallback = reinterpret_cast<DWORD>(&captureCallback);
    MMRESULT result =
        coredll::waveInOpen(device, deviceId, format, ourCallback, instance, CALLBACK_FUNCTION);
    // A device this process left open may be closed and the open retried.
    if (result == MMSYSERR_ALLOCATED && moduleState.staleCaptureHandle) {
        coredll::waveInClose(moduleState.staleCaptureHandle);
        moduleState.staleCaptureHandle = nullptr;
        result = coredll::waveInOpen(device, deviceId, format, ourCallback, instance, CALLBACK_FUNCTION);
    }
    return result;
}

extern "C" MMRESULT waveInPrepareHeader(HWAVEIN device, void* header, UINT headerSize) {
    announceDeviceLength(header, lengthAnnouncedOnPrepare);
    return coredll::waveInPrepareHeader(device, header, headerSize);
}

extern "C" MMRESULT waveInAddBuffer(HWAVEIN device, void* header, UINT headerSize) {
    announceDeviceLength(header, lengthAnnouncedOnAdd);
    return coredll::waveInAddBuffer(device, header, headerSize);
}
