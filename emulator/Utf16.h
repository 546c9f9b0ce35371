// UTF-16 text on the host side: the platform's strings are UTF-16 units.
#pragma once

#include <string>

namespace bench {

// ASCII-only conversions: enough for paths, names and messages.
inline std::string narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out.push_back(c < 0x80 ? char(c) : '?');
    return out;
}

inline std::u16string widen(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

// The key under which names that the platform compares without regard to
// case (paths, registry keys and values, resource names) are stored.
inline std::u16string fold(std::u16string text) {
    for (char16_t& c : text)
        if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
    return text;
}

}  // namespace bench
