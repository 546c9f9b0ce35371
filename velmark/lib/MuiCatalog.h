// An application's translatable texts: each string of each string table,
// each menu item and each dialog caption and control text, named by a
// context that stays stable while the application's resources do
// ("string 101", "menu #200 item 1.3", "dialog #300 caption",
// "dialog #300 item 4"). Equal texts in different places stay apart.
#pragma once

#include "formats/pe/PeImage.h"
#include "formats/pe/Resources.h"
#include "formats/resources/ResourceFormats.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace velmark::cli {

struct CatalogText {
    std::string context;
    std::string where;      // for the translator: the resource and, for items, their id
    std::string reference;  // the resource, e.g. "MENU/#200"
    std::u16string text;
    // The context of the first place whose resource shares this one's bytes,
    // which stands for it in the template; empty for that first place.
    std::string sharedWith;
    size_t maxLength = SIZE_MAX;  // UTF-16 units the place holds
};

// The resources of one application, parsed; the first language of each
// resource counts.
struct ApplicationResources {
    std::vector<pe::Resource> leaves;  // every leaf, in directory order
    std::map<uint32_t, std::u16string> strings;
    std::vector<std::pair<const pe::Resource*, mui::Menu>> menus;
    std::vector<std::pair<const pe::Resource*, mui::Dialog>> dialogs;
};

// Throws Failure naming `path` and the resource that does not parse.
ApplicationResources readApplicationResources(const pe::Image& image, const std::string& path);

std::vector<CatalogText> catalogTexts(const ApplicationResources& app);

// Translations by context (only the ones to use: not empty, not fuzzy).
using Translations = std::map<std::string, std::u16string>;

// Copies with each translated text put in; untranslated texts stay as they are.
mui::Menu translateMenu(const pe::Resource& resource, mui::Menu menu, const Translations& translations);
mui::Dialog translateDialog(const pe::Resource& resource, mui::Dialog dialog, const Translations& translations);

std::string stringContext(uint32_t id);
// "dialog #300 caption", "dialog #300 item 4".
std::string dialogContext(const pe::Resource& r, const std::string& part);

}  // namespace velmark::cli
