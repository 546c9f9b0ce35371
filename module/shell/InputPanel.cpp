// The soft input panel, answered by the module alone: no panel, nothing to
// show, and an input method that is merely remembered. COREDLL is never
// called, so these work whether or not the platform has a panel.
#include "module/frame/ModuleState.h"

namespace {
constexpr unsigned kClassIdBytes = 16;
}

extern "C" BOOL sipAnswerFalse() { return FALSE; }
extern "C" BOOL sipAnswerTrue() { return TRUE; }

extern "C" BOOL SipStatus() __attribute__((alias("sipAnswerFalse")));
extern "C" BOOL SipRegisterNotification() __attribute__((alias("sipAnswerFalse")));
extern "C" BOOL SipGetInfo() __attribute__((alias("sipAnswerFalse")));
extern "C" BOOL SipSetInfo() __attribute__((alias("sipAnswerFalse")));
extern "C" BOOL SipEnumIM() __attribute__((alias("sipAnswerFalse")));
extern "C" BOOL SipShowIM() __attribute__((alias("sipAnswerTrue")));
extern "C" BOOL SipSetDefaultRect() __attribute__((alias("sipAnswerTrue")));

// The caller's class identifier may lie at any address: copied a byte at a time.
extern "C" BOOL SipGetCurrentIM(uint8_t* classId) {
    if (!classId) return FALSE;
    const uint8_t* current = reinterpret_cast<const uint8_t*>(moduleState.currentInputMethod);
    for (unsigned i = 0; i < kClassIdBytes; ++i) classId[i] = current[i];
    return TRUE;
}

extern "C" BOOL SipSetCurrentIM(const uint8_t* classId) {
    if (!classId) return FALSE;
    uint8_t* current = reinterpret_cast<uint8_t*>(moduleState.currentInputMethod);
    for (unsigned i = 0; i < kClassIdBytes; ++i) current[i] = classId[i];
    return TRUE;
}
