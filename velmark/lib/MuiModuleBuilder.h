// Builds a language module: a resource-only Windows CE ARM DLL holding an
// application's string tables, menus and dialogs in another language.
//
// The offsets rule: the application may find a resource in the host
// executable (FindResourceW is not redirected) and hand that handle to the
// language module's LoadResource, which yields the module's base plus the
// host's data RVA. So the module keeps the host's resource section at the
// host's RVAs, byte for byte, with translated dialogs written in place; the
// host's directory is left out. The module's own directory follows in a
// section of its own, with the string tables and menus the platform finds
// through it (MuiModuleImage.h). The RVAs below the host's resources are
// covered by one uninitialised section: no file bytes, zero pages when
// mapped, and the module's resources keep their RVAs.
#pragma once

#include "velmark/lib/MuiCatalog.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmark::cli {

struct LanguageModule {
    std::vector<uint8_t> file;
    size_t stringsTranslated = 0, strings = 0;
    size_t menusTranslated = 0, dialogsTranslated = 0;
    // Dialogs whose translation outgrows their place, left untranslated:
    // the host's template stays. One line each, naming the entries to cut.
    std::vector<std::string> overlong;
};

// Throws Failure naming the host (`hostPath`) and the resource when the
// module cannot be made.
LanguageModule buildLanguageModule(const pe::Image& host, const ApplicationResources& app,
                                   const Translations& translations, uint16_t language, const std::string& hostPath);

}  // namespace velmark::cli
