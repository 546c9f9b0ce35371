#include "velmark/lib/MuiCatalog.h"

#include "velmark/lib/Failure.h"
#include "velmark/lib/Utf8.h"

#include <set>
#include <tuple>

namespace velmark::cli {
namespace {

std::string menuItemContext(const pe::Resource& r, const std::string& path) {
    return "menu " + pe::describe(r.name) + " item " + path;
}

void menuTexts(const pe::Resource& r, const std::vector<mui::MenuItem>& items, const std::string& prefix,
               std::vector<CatalogText>& out) {
    for (size_t i = 0; i < items.size(); ++i) {
        std::string path = prefix + std::to_string(i + 1);
        const mui::MenuItem& item = items[i];
        if (!item.text.empty()) {
            std::string where = "menu " + pe::describe(r.name) +
                                (item.children.empty() ? ", command " + std::to_string(item.id) : ", submenu");
            out.push_back({menuItemContext(r, path), where, "MENU/" + pe::describe(r.name), item.text, {}, SIZE_MAX});
        }
        menuTexts(r, item.children, path + ".", out);
    }
}

void translateItems(const pe::Resource& r, std::vector<mui::MenuItem>& items, const std::string& prefix,
                    const Translations& t) {
    for (size_t i = 0; i < items.size(); ++i) {
        std::string path = prefix + std::to_string(i + 1);
        auto it = t.find(menuItemContext(r, path));
        if (it != t.end() && !items[i].text.empty()) items[i].text = it->second;
        translateItems(r, items[i].children, path + ".", t);
    }
}

// Menus or dialogs whose data lie at one RVA are one template: the first
// place stands for the others, which its texts name.
template <class Parsed>
void markShared(const std::vector<std::pair<const pe::Resource*, Parsed>>& resources, const std::string& kind,
                std::vector<CatalogText>& texts) {
    for (const auto& [r, parsed] : resources) {
        const pe::Resource* first = r;
        for (const auto& [other, unused] : resources)
            if (other->dataRva == r->dataRva) {
                first = other;
                break;
            }
        if (first == r) continue;
        const std::string mine = kind + " " + pe::describe(r->name) + " ";
        const std::string theirs = kind + " " + pe::describe(first->name) + " ";
        for (CatalogText& t : texts) {
            if (t.context.rfind(mine, 0) == 0) t.sharedWith = theirs + t.context.substr(mine.size());
            else if (t.context.rfind(theirs, 0) == 0) t.where += "; also " + mine + "(one template)";
        }
    }
}

}  // namespace

std::string stringContext(uint32_t id) { return "string " + std::to_string(id); }

std::string dialogContext(const pe::Resource& r, const std::string& part) {
    return "dialog " + pe::describe(r.name) + " " + part;
}

ApplicationResources readApplicationResources(const pe::Image& image, const std::string& path) {
    ApplicationResources app;
    try {
        app.leaves = pe::readResources(image);
    } catch (const pe::PeFormatError& e) {
        throw Failure(path + ": " + e.what());
    }
    // (type, id, name) of the first language taken; a named resource's name is never empty
    std::set<std::tuple<uint16_t, uint16_t, std::u16string>> seen;
    for (const pe::Resource& r : app.leaves) {
        if (!r.type.isId()) continue;
        uint16_t type = r.type.id;
        if (type != mui::kRtString && type != mui::kRtMenu && type != mui::kRtDialog) continue;
        if (!seen.insert({type, r.name.id, r.name.name}).second) continue;
        std::string label = "resource " + pe::describe(r.type) + "/" + pe::describe(r.name);
        try {
            std::vector<uint8_t> bytes = pe::resourceBytes(image, r);
            if (type == mui::kRtString) {
                if (!r.name.isId() || r.name.id == 0) throw mui::ResourceFormatError("string block without a number");
                mui::StringBlock block = mui::parseStringBlock(bytes);
                for (uint32_t i = 0; i < mui::kStringsPerBlock; ++i)
                    if (!block[i].empty()) app.strings[mui::firstStringOf(r.name.id) + i] = block[i];
            } else if (type == mui::kRtMenu) {
                app.menus.push_back({&r, mui::parseMenu(bytes)});
            } else {
                app.dialogs.push_back({&r, mui::parseDialog(bytes)});
            }
        } catch (const std::runtime_error& e) {
            throw Failure(path + ": " + label + ": " + e.what());
        }
    }
    return app;
}

std::vector<CatalogText> catalogTexts(const ApplicationResources& app) {
    std::vector<CatalogText> out;
    for (const auto& [id, text] : app.strings)
        out.push_back({stringContext(id), "string " + std::to_string(id),
                       "STRINGTABLE/#" + std::to_string(mui::stringBlockId(id)), text, {}, mui::kMaxStringLength});
    for (const auto& [r, menu] : app.menus) menuTexts(*r, menu.items, "", out);
    for (const auto& [r, dialog] : app.dialogs) {
        if (!dialog.caption.empty())
            out.push_back({dialogContext(*r, "caption"), "dialog " + pe::describe(r->name) + ", caption",
                           "DIALOG/" + pe::describe(r->name), dialog.caption, {}, SIZE_MAX});
        for (size_t i = 0; i < dialog.items.size(); ++i) {
            const mui::DialogItem& item = dialog.items[i];
            if (item.title.ordinal || item.title.text.empty()) continue;
            out.push_back({dialogContext(*r, "item " + std::to_string(i + 1)),
                           "dialog " + pe::describe(r->name) + ", control " + std::to_string(int16_t(item.id)),
                           "DIALOG/" + pe::describe(r->name), item.title.text, {}, SIZE_MAX});
        }
    }
    markShared(app.menus, "menu", out);
    markShared(app.dialogs, "dialog", out);
    return out;
}

mui::Menu translateMenu(const pe::Resource& r, mui::Menu menu, const Translations& t) {
    translateItems(r, menu.items, "", t);
    return menu;
}

mui::Dialog translateDialog(const pe::Resource& r, mui::Dialog dialog, const Translations& t) {
    auto caption = t.find(dialogContext(r, "caption"));
    if (caption != t.end() && !dialog.caption.empty()) dialog.caption = caption->second;
    for (size_t i = 0; i < dialog.items.size(); ++i) {
        mui::DialogItem& item = dialog.items[i];
        if (item.title.ordinal || item.title.text.empty()) continue;
        auto it = t.find(dialogContext(r, "item " + std::to_string(i + 1)));
        if (it != t.end()) item.title.text = it->second;
    }
    return dialog;
}

}  // namespace velmark::cli
