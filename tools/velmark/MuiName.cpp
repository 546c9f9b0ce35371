#include "MuiName.h"

#include "language/languageModuleName.h"

namespace velmark::cli {

MuiNameAnswer languageModuleNameFor(const std::u16string& hostPath, const std::optional<std::u16string>& sysLang) {
    MuiNameAnswer answer;
    std::optional<std::u16string> readSysLang = sysLang;
    if (sysLang && sysLang->size() > kSysLangMaxUnits) {
        answer.note = "a SysLang of " + std::to_string(sysLang->size()) + " characters is longer than the " +
                      std::to_string(kSysLangMaxUnits) + " the module reads, so \"409\" is used";
        readSysLang.reset();
    }
    // The text stops at a NUL, as the registry string would.
    const std::u16string text = readSysLang ? readSysLang->c_str() : std::u16string();

    if (hostPath.empty()) {
        answer.why = "an empty host path names no language module";
        return answer;
    }
    if (hostPath.size() >= kPathCapacity) {
        answer.why = "the host path has " + std::to_string(hostPath.size()) +
                     " characters; the module's path buffer holds at most " + std::to_string(kPathCapacity - 1);
        return answer;
    }
    Utf16 name[kPathCapacity];
    if (!composeLanguageModuleName(hostPath.c_str(), readSysLang ? text.c_str() : nullptr, name)) {
        int32_t number = languageNumber(readSysLang ? text.c_str() : kDefaultSysLang);
        answer.why = "the name would have " +
                     std::to_string(languageModuleNameLength(unsigned(hostPath.size()), number)) +
                     " characters; the module's path buffer holds at most " + std::to_string(kPathCapacity - 1);
        return answer;
    }
    answer.name = std::u16string(name);
    return answer;
}

}  // namespace velmark::cli
