#include "module/frame/platform.h"
#include "module/language/LanguageSelection.h"

// The load never fails on the module's account: every outcome answers TRUE.
extern "C" BOOL DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        selectLanguageModule();
    else if (reason == DLL_PROCESS_DETACH)
        releaseLanguageModule();
    return TRUE;
}
