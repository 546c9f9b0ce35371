#include "velmark/lib/MuiModuleBuilder.h"

#include "formats/resources/ImageFile.h"
#include "formats/resources/ResourceDirectory.h"
#include "velmark/lib/DialogBudget.h"
#include "velmark/lib/Failure.h"
#include "velmark/lib/MuiModuleImage.h"

#include <algorithm>

namespace velmark::cli {
namespace {

bool sameResource(const pe::Resource& a, const pe::Resource& b) {
    return mui::sameResourceName(a.type, b.type) && mui::sameResourceName(a.name, b.name);
}

}  // namespace

LanguageModule buildLanguageModule(const pe::Image& host, const ApplicationResources& app,
                                   const Translations& translations, uint16_t language, const std::string& hostPath) {
    if (app.leaves.empty()) throw Failure(hostPath + ": has no resources to translate");
    const pe::DataDirectory& dir = host.directories[pe::kDirResource];
    const pe::Section* section = host.sectionAt(dir.rva);
    if (!section || section->virtualAddress % mui::kPage)
        throw Failure(hostPath + ": the resource directory does not lie in a page-aligned section");
    const uint32_t base = section->virtualAddress;
    const uint32_t hostSize = section->span();

    // The host's resource data as it lies in memory, and nothing else of the
    // host's section: its directory must not be found in the module.
    std::vector<uint8_t> bytes(hostSize);
    for (const pe::Resource& r : app.leaves) {
        if (r.dataRva < base || uint64_t(r.dataRva) + r.size > uint64_t(base) + hostSize)
            throw Failure(hostPath + ": resource " + pe::describe(r.type) + "/" + pe::describe(r.name) +
                               " lies outside the resource section " + section->name +
                               ", so the module cannot keep it at its offset");
        std::vector<uint8_t> data = pe::resourceBytes(host, r);
        std::copy(data.begin(), data.end(), bytes.begin() + (r.dataRva - base));
    }

    LanguageModule result;
    std::vector<pe::Resource> leaves;
    OwnResources own;  // the module's own section, after the host's
    auto append = [&](pe::Resource leaf, const std::vector<uint8_t>& data) {
        leaf.dataRva = uint32_t(own.data.size());
        leaf.size = uint32_t(data.size());
        leaf.language = language;
        own.data.insert(own.data.end(), data.begin(), data.end());
        while (own.data.size() % 4) own.data.push_back(0);
        own.leaves.push_back(leaves.size());
        leaves.push_back(leaf);
    };

    // String tables: translations only; an untranslated string stays empty so
    // that LoadStringW fails in the module and falls back to the host.
    for (const pe::Resource& r : app.leaves) {
        if (!r.type.isId() || r.type.id != mui::kRtString) continue;
        if (std::any_of(leaves.begin(), leaves.end(), [&](const pe::Resource& l) { return sameResource(l, r); })) continue;
        mui::StringBlock block(mui::kStringsPerBlock);
        for (uint32_t i = 0; i < mui::kStringsPerBlock; ++i) {
            uint32_t id = mui::firstStringOf(r.name.id) + i;
            if (!app.strings.count(id)) continue;
            ++result.strings;
            auto it = translations.find(stringContext(id));
            if (it == translations.end()) continue;
            block[i] = it->second;
            ++result.stringsTranslated;
        }
        append(r, mui::writeStringBlock(block));
    }
    for (const auto& [r, menu] : app.menus) {
        std::vector<uint8_t> translated = mui::writeMenu(translateMenu(*r, menu, translations));
        result.menusTranslated += translated != mui::writeMenu(menu);
        append(*r, translated);
    }
    // Dialogs in place, at the host's RVAs.
    for (const auto& [r, dialog] : app.dialogs) {
        std::vector<uint8_t> translated = mui::writeDialog(translateDialog(*r, dialog, translations));
        pe::Resource leaf = *r;
        leaf.language = language;
        if (translated != mui::writeDialog(dialog)) {
            uint32_t room = placeOf(host, app.leaves, *r);
            if (translated.size() > room) {
                result.overlong.push_back(overlongDialog(*r, translateDialog(*r, dialog, translations), room, translations));
                leaves.push_back(leaf);
                continue;
            }
            std::copy(translated.begin(), translated.end(), bytes.begin() + (r->dataRva - base));
            leaf.size = uint32_t(translated.size());
            ++result.dialogsTranslated;
        }
        leaves.push_back(leaf);
    }
    // Everything else keeps the host's bytes at the host's RVA (first
    // language of each resource).
    for (const pe::Resource& r : app.leaves) {
        if (std::any_of(leaves.begin(), leaves.end(), [&](const pe::Resource& l) { return sameResource(l, r); })) continue;
        pe::Resource leaf = r;
        leaf.language = language;
        leaves.push_back(leaf);
    }

    result.file = writeModuleImage(base, std::move(bytes), std::move(leaves), own);
    return result;
}

}  // namespace velmark::cli
