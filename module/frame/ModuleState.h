// The module's process-wide state: one record per process, in ordinary
// (per-process) data, all zero when the module is loaded.
#pragma once

#include "module/frame/platform.h"

struct ModuleState {
    HMODULE languageModule;          // set once at process attach, freed at detach
    HBITMAP bannerBitmap;            // set by the first request for bitmap 284 that creates it
    uint32_t currentInputMethod[4];  // the input method the application last set
    HWAVEIN staleCaptureHandle;      // only ever cleared
};

extern ModuleState moduleState;
