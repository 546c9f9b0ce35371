// Which language module VELMARK loads for a host executable path and a
// SysLang registry text: the real VELMARK.dll runs its selection on the
// emulated device at process attach (HKEY_LOCAL_MACHINE\MUI with Enable = 1)
// and the library it asks LoadLibraryW for is the answer.
#pragma once

#include "formats/exporttable/ExportTable.h"

#include <optional>
#include <string>

#include "module/language/languageModuleName.h"

namespace velmark::cli {

// Characters of the longest SysLang the module reads; a longer value fails
// the query and "409" is used instead.
constexpr size_t kSysLangMaxUnits = kSysLangCapacity - 1;

struct MuiNameAnswer {
    std::optional<std::u16string> name;  // nothing when no language module is loaded
    std::string why;                     // why there is none
    std::string note;                    // something the user may not expect, or empty
};

// `sysLang` absent: the registry has no SysLang value. Throws Failure
// when the module cannot be loaded on the emulated device.
MuiNameAnswer languageModuleNameFor(const std::string& dllPath, const velmark::ExportTable& table,
                                    const std::u16string& hostPath, const std::optional<std::u16string>& sysLang);

}  // namespace velmark::cli
