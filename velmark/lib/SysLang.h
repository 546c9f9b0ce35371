// The SysLang a language module is built for, as the device's registry
// holds it (HKEY_LOCAL_MACHINE\MUI, SysLang): decimal digits.
#pragma once

#include <cstdint>
#include <string>

namespace velmark::cli {

struct SysLang {
    std::string text;        // as given: the module's name comes from it
    uint16_t language = 0;   // the resources' language: the same digits read as hexadecimal (407 -> 0x0407)
};

// Throws Failure (bad usage) explaining what SysLang is for anything but
// 1 to 15 decimal digits whose hexadecimal reading fits a language number.
SysLang parseSysLang(const std::string& text);

}  // namespace velmark::cli
