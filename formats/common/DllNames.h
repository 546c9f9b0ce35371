// The two libraries of the interface: the module and the one it forwards to.
#pragma once

#include <cctype>
#include <string_view>

namespace velmark {

constexpr const char* kVelmarkDllName = "VELMARK.dll";
constexpr const char* kCoredllDllName = "COREDLL.dll";

// DLL names are matched as the loader matches them, ASCII letters in either case.
inline bool sameDllName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace velmark
