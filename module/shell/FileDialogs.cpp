// File dialogs run without custom dialog templates: the two template flags
// are cleared in the caller's OPENFILENAMEW before COREDLL shows the dialog.
#include "module/frame/coredll.h"
#include "module/frame/littleEndian.h"

namespace {

constexpr uint32_t kOpenFileNameSize = 76;
constexpr uint32_t kStructSizeOffset = 0;
constexpr uint32_t kFlagsOffset = 52;
constexpr uint32_t OFN_ENABLETEMPLATE = 0x40;
constexpr uint32_t OFN_ENABLETEMPLATEHANDLE = 0x80;

// A record of another size is not one whose layout we know: left untouched.
void dropCustomTemplates(void* openFileName) {
    if (!openFileName) return;
    if (readLe32(byteOffset(openFileName, kStructSizeOffset)) != kOpenFileNameSize) return;
    uint8_t* flags = byteOffset(openFileName, kFlagsOffset);
    writeLe32(flags, readLe32(flags) & ~(OFN_ENABLETEMPLATE | OFN_ENABLETEMPLATEHANDLE));
}

}  // namespace

extern "C" BOOL GetOpenFileNameW(void* openFileName) {
    dropCustomTemplates(openFileName);
    return coredll::GetOpenFileNameW(openFileName);
}

extern "C" BOOL GetSaveFileNameW(void* openFileName) {
    dropCustomTemplates(openFileName);
    return coredll::GetSaveFileNameW(openFileName);
}
