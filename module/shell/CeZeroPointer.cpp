#include "module/frame/platform.h"

// Computed here: COREDLL is not asked, and the ordinal is never imported.
extern "C" DWORD CeZeroPointer(DWORD pointer) { return pointer & 0x7FFFFFFF; }
