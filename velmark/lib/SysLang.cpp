#include "velmark/lib/SysLang.h"

#include "velmark/lib/Failure.h"
#include "velmark/lib/MuiName.h"
#include "formats/common/Printable.h"

namespace velmark::cli {

SysLang parseSysLang(const std::string& text) {
    const std::string what =
        "--syslang " + velmark::quoted(text) +
        ": SysLang is the language number the device's registry holds under HKEY_LOCAL_MACHINE\\MUI, in "
        "decimal digits (407, 409, 0); the device loads APP.exe.0407.mui for 407 and .0000.mui for 0";
    if (text.empty() || text.size() > kSysLangMaxUnits || text.find_first_not_of("0123456789") != std::string::npos)
        throw Failure(what + (text.size() > kSysLangMaxUnits ? "; it holds at most " + std::to_string(kSysLangMaxUnits) +
                                                                   " characters"
                                                             : ""),
                      FailureKind::BadUsage);
    const size_t significant = text.size() - std::min(text.find_first_not_of('0'), text.size());
    if (significant > 4)
        throw Failure(what + "; the module's resources take the language whose hexadecimal number has these "
                             "digits, which needs at most four digits besides leading zeros",
                      FailureKind::BadUsage);
    return {text, uint16_t(std::stoul(text, nullptr, 16))};
}

}  // namespace velmark::cli
