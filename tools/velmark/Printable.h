// Text taken from a file (DLL and function names, export names) as it may be
// shown on a terminal: control characters and bytes outside printable ASCII
// are written as \xNN, and a very long name is cut short with its length.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmark::cli {

constexpr size_t kShownNameLength = 80;

std::string printable(std::string_view text, size_t limit = kShownNameLength);

// "TEXT" in quotes, made printable.
std::string quoted(std::string_view text, size_t limit = kShownNameLength);

}  // namespace velmark::cli
