// Text taken from a file (DLL and function names, export names) as it may be
// shown on a terminal: control characters and bytes outside printable ASCII
// are written as \xNN, and a very long name is cut short with its length.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmark {

constexpr size_t kShownNameLength = 80;

inline std::string printable(std::string_view text, size_t limit = kShownNameLength) {
    const char* digits = "0123456789ABCDEF";
    std::string out;
    const std::string_view shown = text.substr(0, limit);
    for (unsigned char c : shown) {
        if (c >= 0x20 && c < 0x7F && c != '\\')
            out += char(c);
        else
            out += {'\\', 'x', digits[c >> 4], digits[c & 15]};
    }
    if (shown.size() < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
    return out;
}

// "TEXT" in quotes, made printable.
inline std::string quoted(std::string_view text, size_t limit = kShownNameLength) {
    return "\"" + printable(text, limit) + "\"";
}

}  // namespace velmark
