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

// Records the length the device may fill; the header may lie at any address.
void announceDeviceLength(void* header, uint32_t (*announced)(uint32_t)) {
    uint8_t* length = byteOffset(header, kBufferLengthOffset);
    writeLe32(length, announced(readLe32(length)));
}

// The platform calls this on its own thread; it touches nothing but the
// header it is handed and that header's buffer. It trusts the device to
// have filled no more than it was announced: what lies beyond is not doubled.
void captureCallback(HWAVEIN, UINT message, DWORD, DWORD headerAddress, DWORD) {
    if (message != WIM_DATA || headerAddress == 0) return;
    uint8_t* header = reinterpret_cast<uint8_t*>(headerAddress);
    uint32_t announced = readLe32(header + kBufferLengthOffset);
    if (announced > kDeviceBufferBytes) announced = kDeviceBufferBytes;
    uint32_t recorded = readLe32(header + kBytesRecordedOffset);
    if (recorded > announced) recorded = announced;
    duplicateSamples(reinterpret_cast<uint8_t*>(readLe32(header + kDataOffset)), recorded);
    writeLe32(header + kBufferLengthOffset, 2 * announced);
    writeLe32(header + kBytesRecordedOffset, 2 * recorded);
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
    if (header) announceDeviceLength(header, lengthAnnouncedOnPrepare);
    return coredll::waveInPrepareHeader(device, header, headerSize);
}

extern "C" MMRESULT waveInAddBuffer(HWAVEIN device, void* header, UINT headerSize) {
    if (header) announceDeviceLength(header, lengthAnnouncedOnAdd);
    return coredll::waveInAddBuffer(device, header, headerSize);
}
