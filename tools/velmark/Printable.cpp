#include "Printable.h"

#include <cstdio>

namespace velmark::cli {

std::string printable(std::string_view text, size_t limit) {
    std::string out;
    const std::string_view shown = text.substr(0, limit);
    for (unsigned char c : shown) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += char(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    if (shown.size() < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
    return out;
}

std::string quoted(std::string_view text, size_t limit) { return "\"" + printable(text, limit) + "\""; }

}  // namespace velmark::cli
