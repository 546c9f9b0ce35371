// A device is closed as soon as a reset of it succeeds. The caller sees the
// result and last-error value of the reset alone; the application's own
// later close reaches the platform as a close of a closed handle.
#include "module/frame/coredll.h"

namespace {

template <typename Device>
MMRESULT resetAndRelease(MMRESULT (*reset)(Device), MMRESULT (*close)(Device), Device device) {
    MMRESULT result = reset(device);
    DWORD lastError = coredll::GetLastError();
    if (result == 0) close(device);
    coredll::SetLastError(lastError);
    return result;
}

}  // namespace

extern "C" MMRESULT waveInReset(HWAVEIN device) {
    return resetAndRelease(coredll::waveInReset, coredll::waveInClose, device);
}

extern "C" MMRESULT waveOutReset(HWAVEOUT device) {
    return resetAndRelease(coredll::waveOutReset, coredll::waveOutClose, device);
}
