#include "module/frame/coredll.h"

// Every sound first stops the one playing, whatever the flags ask.
extern "C" BOOL PlaySoundW(const WCHAR* sound, HMODULE module, DWORD flags) {
    coredll::PlaySoundW(nullptr, nullptr, 0);
    return coredll::PlaySoundW(sound, module, flags);
}
