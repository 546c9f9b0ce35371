// A UTF-16 unit for code built both into the module and for the host: the
// module's wchar_t is 16 bits (-fshort-wchar), the host's is not.
#pragma once

#if defined(__arm__) && __SIZEOF_WCHAR_T__ == 2
using Utf16 = wchar_t;
#define UTF16(text) L##text
#else
using Utf16 = char16_t;
#define UTF16(text) u##text
#endif

// Units before the terminating zero, looking at no more than `capacity`
// units; `capacity` itself when there is no terminator within them.
inline unsigned boundedLength(const Utf16* text, unsigned capacity) {
    unsigned n = 0;
    while (n < capacity && text[n] != 0) ++n;
    return n;
}
