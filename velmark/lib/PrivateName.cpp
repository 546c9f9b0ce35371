#include "velmark/lib/PrivateName.h"

namespace velmark::cli {

std::optional<std::string> privateLibraryName(std::string_view name) {
    std::string out(name);
    size_t dot = out.rfind('.');
    size_t stem = dot == std::string::npos || dot == 0 ? out.size() : dot;
    bool changed = false;
    for (size_t i = 0; i < stem; ++i) {
        char& c = out[i];
        if (c >= 'a' && c <= 'z') c = char('a' + (c - 'a' + 13) % 26);
        else if (c >= 'A' && c <= 'Z') c = char('A' + (c - 'A' + 13) % 26);
        else if (c >= '0' && c <= '9') c = char('0' + (c - '0' + 5) % 10);
        else continue;
        changed = true;
    }
    if (!changed) return std::nullopt;
    return out;
}

}  // namespace velmark::cli
