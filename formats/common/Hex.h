// "0x1A2B", the form every message and report gives numbers in; `digits`
// pads with zeros to that many hex digits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace velmark {

inline std::string hex(uint64_t value, int digits = 0) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

}  // namespace velmark
