// The work of velmark mui extract, build and check, callable without the
// command line (the tests and the benchmark use it).
#pragma once

#include "velmark/lib/MuiCheck.h"
#include "velmark/lib/MuiModuleBuilder.h"

#include <optional>
#include <string>

namespace velmark::cli {

// Writes the template of every translatable text; returns how many.
size_t extractTexts(const std::string& exePath, const std::string& potPath);

struct BuiltModule {
    std::string path;
    LanguageModule module;
};
// `sysLang` as the registry holds it ("407"): its digits name the file by
// the module's name rule and, read as hexadecimal, give the resources'
// language. The output defaults to the name rule's file beside the host.
// The default name comes from `dllPath`, the VELMARK.dll that chooses it.
BuiltModule buildModule(const std::string& exePath, const std::string& poPath, const std::string& sysLang,
                        const std::optional<std::string>& outputPath, const std::string& dllPath);

ModuleCheck checkModule(const std::string& exePath, const std::string& modulePath);

}  // namespace velmark::cli
