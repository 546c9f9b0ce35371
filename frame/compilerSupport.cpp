// The compiler turns some copies and zero fills (a cleared local array, a
// record assignment) into calls to memset and memcpy. The module links
// against no C library, so those calls are served by COREDLL's own.
#include <stddef.h>

#include "frame/coredll.h"

extern "C" void* memset(void* destination, int value, size_t size) {
    return coredll::memset(destination, value, size);
}

extern "C" void* memcpy(void* destination, const void* source, size_t size) {
    return coredll::memcpy(destination, source, size);
}
