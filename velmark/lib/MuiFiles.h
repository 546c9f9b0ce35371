// The work of velmark mui extract, build and check, callable without the
// command line (the tests and the benchmark use it).
#pragma once

#include "velmark/lib/ApplicationLibraries.h"
#include "velmark/lib/MuiCheck.h"
#include "velmark/lib/MuiModuleBuilder.h"

#include <optional>
#include <string>
#include <vector>

namespace velmark::cli {

// Writes the template of every translatable text, each dialog's entries
// with the dialog's budget; returns how many.
size_t extractTexts(const std::string& exePath, const std::string& potPath);

struct BuiltModule {
    std::string path;
    LanguageModule module;
    std::vector<std::string> warnings;  // entries of the PO file not used, dialogs left untranslated, and why
};
// `sysLang` as the registry holds it ("407", SysLang.h): its digits name the
// file by the module's name rule and, read as hexadecimal, give the
// resources' language. The output defaults to the name rule's file beside
// the host. Only entries that translate the application as it is are used
// (TranslationMatch.h); when none does, nothing is written.
// The default name comes from `dllPath`, the VELMARK.dll that chooses it.
// `strict`: a dialog whose translation outgrows its place is an error and
// nothing is written.
BuiltModule buildModule(const std::string& exePath, const std::string& poPath, const std::string& sysLang,
                        const std::optional<std::string>& outputPath, const std::string& dllPath,
                        bool strict = false);

// Also judges which translations the application's requests reach through
// VELMARK, its libraries examined beside it and as given (those given count
// as routed). Throws Failure (bad usage) for a module that is not a
// resource-only DLL.
ModuleCheck checkModule(const std::string& exePath, const std::string& modulePath,
                        const std::vector<LibraryFile>& libraries = {});

}  // namespace velmark::cli
