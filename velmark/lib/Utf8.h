// UTF-8 (command line, terminal) to and from UTF-16 (the device's strings).
#pragma once

#include <optional>
#include <string>

namespace velmark::cli {

// Nothing when `text` is not well-formed UTF-8.
std::optional<std::u16string> utf8ToUtf16(const std::string& text);
// Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const std::u16string& text);

}  // namespace velmark::cli
