// An install descriptor written byte by byte from the format's public
// description, independently of the writer: a program in %CE1%\Demo, a
// shared VELMARK.dll in %CE2%, HKLM\MUI Enable = 1 and SysLang = "407", and
// a shortcut in %CE11%. With `installerQuirks` its strings are laid out as
// real installers write them: padded with NULs, the shortcut's name without
// its NUL and its path without the closing 0.
#pragma once

#include "formats/cab/InstallDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cabtest {

struct HandWritten {
    std::vector<uint8_t> bytes;
    // Where each section starts, for the tests that damage one.
    size_t strings = 0, folders = 0, files = 0, keys = 0, values = 0, shortcuts = 0;
};

HandWritten handWrittenDescriptor(bool installerQuirks = false);

// What the descriptor above holds.
cab::InstallDescriptor handWrittenContent();

// Every field of a descriptor in one line, so that two compare by what they hold.
std::string fields(const cab::InstallDescriptor& descriptor);

}  // namespace cabtest
