#include "module/frame/coredll.h"

// The query starts from an empty string, so a failing call leaves one behind.
// The terminator is written a byte at a time: the buffer may lie at any address.
extern "C" BOOL SHGetSpecialFolderPath(HWND owner, WCHAR* path, int folder, BOOL create) {
    if (path) {
        reinterpret_cast<uint8_t*>(path)[0] = 0;
        reinterpret_cast<uint8_t*>(path)[1] = 0;
    }
    return coredll::SHGetSpecialFolderPath(owner, path, folder, create);
}
