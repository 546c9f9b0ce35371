// What a language module does for its host: which strings, menus and
// dialogs it translates, which fall back to the host, and which resources
// the application can reach through LoadResource that the module does not
// hold at the host's offset.
#pragma once

#include "velmark/lib/MuiCatalog.h"

#include <string>
#include <vector>

namespace velmark::cli {

struct ModuleCheck {
    std::vector<std::string> lines;     // the report, one line each
    std::vector<std::string> problems;  // resources not at the host's offset
    // What the module translates: strings by count, menus and dialogs by name ("#200").
    size_t stringsTranslated = 0;
    std::vector<std::string> menusTranslated, dialogsTranslated;
    bool changesNothing = false;  // no translation reaches the application
};

// Why `module` is not a resource-only DLL, the only kind of language
// module; empty when it is one.
std::string whyNotResourceOnly(const pe::Image& module);

ModuleCheck checkLanguageModule(const pe::Image& host, const ApplicationResources& app, const pe::Image& module,
                                const std::string& modulePath);

}  // namespace velmark::cli
