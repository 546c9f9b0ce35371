// The file name of an application's private copy of a library routed
// through VELMARK. The platform keeps one module per file name, whatever
// the folder or extension, so a copy still named MFCCE400.dll would be the
// system's: the copy's name differs in its letters and digits, keeps the
// extension, and has the same length, so that the import naming it is
// rewritten in place. Each letter moves 13 places in the alphabet and each
// digit 5, in the letter case it had: MFCCE400.dll -> ZSPPR955.dll. The rule
// is its own inverse, which gives undo the original name byte for byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmark::cli {

// Nothing when the name has no letter or digit before its extension.
std::optional<std::string> privateLibraryName(std::string_view name);

}  // namespace velmark::cli
