#include "module/frame/coredll.h"

// Exported as the module's own code, with no change to the call.
extern "C" DWORD CheckMenuItem(HMENU menu, UINT item, UINT check) {
    return coredll::CheckMenuItem(menu, item, check);
}
