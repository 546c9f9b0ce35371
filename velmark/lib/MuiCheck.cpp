#include "velmark/lib/MuiCheck.h"

#include "formats/common/Hex.h"
#include "formats/resources/ResourceDirectory.h"
#include "velmark/lib/Failure.h"

#include <optional>

namespace velmark::cli {

std::string whyNotResourceOnly(const pe::Image& module) {
    if (!(module.fileCharacteristics & pe::format::kFileDll)) return "it is not a DLL";
    if (module.entryPointRva) return "it has code (an entry point)";
    if (!module.imports.empty()) return "it imports " + std::string(module.imports[0].dllName);
    if (module.directories[pe::kDirResource].rva == 0) return "it has no resources";
    return "";
}

namespace {

using velmark::hex;

std::string label(const pe::Resource& r) {
    static const char* const kTypes[] = {"", "cursor", "bitmap", "icon", "menu", "dialog", "string block",
                                         "font directory", "font", "accelerators", "RCDATA"};
    std::string type = r.type.isId() && r.type.id < 11 && r.type.id ? kTypes[r.type.id] : "type " + pe::describe(r.type);
    return type + " " + pe::describe(r.name);
}

// A list of numbers, shortened when long.
std::string listOf(const std::vector<uint32_t>& ids) {
    std::string out;
    for (size_t i = 0; i < ids.size() && i < 20; ++i) out += (i ? ", " : "") + std::to_string(ids[i]);
    if (ids.size() > 20) out += " and " + std::to_string(ids.size() - 20) + " more";
    return out;
}

// The module's bytes at [rva, rva + size), or nothing when not file-backed.
std::optional<std::vector<uint8_t>> moduleBytes(const pe::Image& module, uint32_t rva, uint32_t size) {
    try {
        return module.bytesAt(rva, size);
    } catch (const pe::PeFormatError&) {
        return std::nullopt;
    }
}

// From rva to the end of its section's file data.
std::optional<std::vector<uint8_t>> moduleTail(const pe::Image& module, uint32_t rva) {
    const pe::Section* s = module.sectionAt(rva);
    if (!s) return std::nullopt;
    uint32_t end = s->virtualAddress + s->fileBackedSize();
    if (rva >= end) return std::nullopt;
    return moduleBytes(module, rva, end - rva);
}

// A dialog's caption and control texts: what a translation changes.
std::vector<std::u16string> textsOf(const mui::Dialog& dialog) {
    std::vector<std::u16string> texts{dialog.caption};
    for (const mui::DialogItem& item : dialog.items) texts.push_back(item.title.text);
    return texts;
}

}  // namespace

ModuleCheck checkLanguageModule(const pe::Image& host, const ApplicationResources& app, const pe::Image& module,
                                const std::string& modulePath) {
    ModuleCheck check;
    std::vector<pe::Resource> moduleLeaves;
    try {
        moduleLeaves = pe::readResources(module);
    } catch (const pe::PeFormatError& e) {
        throw Failure(modulePath + ": " + e.what());
    }
    auto findInModule = [&](const pe::Resource& r) -> const pe::Resource* {
        for (const pe::Resource& m : moduleLeaves)
            if (mui::sameResourceName(m.type, r.type) && mui::sameResourceName(m.name, r.name)) return &m;
        return nullptr;
    };

    // Strings through the module's own directory, as LoadStringW finds them.
    std::vector<uint32_t> fallBack;
    size_t translated = 0;
    for (const auto& [id, text] : app.strings) {
        pe::Resource wanted;
        wanted.type.id = mui::kRtString;
        wanted.name.id = mui::stringBlockId(id);
        const pe::Resource* block = findInModule(wanted);
        std::u16string moduleText;
        if (block) {
            try {
                moduleText = mui::parseStringBlock(pe::resourceBytes(module, *block))[id % mui::kStringsPerBlock];
            } catch (const std::runtime_error& e) {
                throw Failure(modulePath + ": string block " + std::to_string(wanted.name.id) + ": " + e.what());
            }
        }
        if (moduleText.empty()) fallBack.push_back(id);
        else ++translated;
    }
    check.lines.push_back("strings: " + std::to_string(translated) + " of " + std::to_string(app.strings.size()) +
                          " translated" + (fallBack.empty() ? "" : "; from the host: " + listOf(fallBack)));

    std::vector<std::string> menusTranslated, menusSame, menusMissing;
    for (const auto& [r, menu] : app.menus) {
        const pe::Resource* m = findInModule(*r);
        if (!m) menusMissing.push_back(pe::describe(r->name));
        else if (pe::resourceBytes(module, *m) == mui::writeMenu(menu)) menusSame.push_back(pe::describe(r->name));
        else menusTranslated.push_back(pe::describe(r->name));
    }
    auto names = [](const std::vector<std::string>& v) {
        std::string out;
        for (const std::string& s : v) out += (out.empty() ? "" : ", ") + s;
        return out;
    };
    check.lines.push_back("menus: " + std::to_string(menusTranslated.size()) + " of " +
                          std::to_string(app.menus.size()) + " translated" +
                          (menusSame.empty() ? "" : "; untranslated in the module: " + names(menusSame)) +
                          (menusMissing.empty() ? "" : "; from the host: " + names(menusMissing)));

    // Every resource at the host's offset: dialogs as templates, the rest byte for byte.
    std::vector<std::string> dialogsTranslated;
    for (const pe::Resource& r : app.leaves) {
        std::string where = label(r) + " (RVA " + hex(r.dataRva) + ", " + std::to_string(r.size) + " bytes)";
        bool isDialog = r.type.isId() && r.type.id == mui::kRtDialog;
        std::vector<uint8_t> hostBytes = pe::resourceBytes(host, r);
        if (!isDialog) {
            std::optional<std::vector<uint8_t>> bytes = moduleBytes(module, r.dataRva, r.size);
            if (!bytes) check.problems.push_back(where + ": the module has no data at that offset");
            else if (*bytes != hostBytes) check.problems.push_back(where + ": the module holds other bytes there");
            continue;
        }
        std::optional<std::vector<uint8_t>> tail = moduleTail(module, r.dataRva);
        if (!tail) {
            check.problems.push_back(where + ": the module has no data at that offset");
            continue;
        }
        try {
            mui::Dialog theirs = mui::parseDialog(*tail), ours = mui::parseDialog(hostBytes);
            if (theirs.items.size() != ours.items.size())
                check.problems.push_back(where + ": the module's template there has " +
                                         std::to_string(theirs.items.size()) + " controls, the host's " +
                                         std::to_string(ours.items.size()));
            else if (textsOf(theirs) != textsOf(ours))
                dialogsTranslated.push_back(pe::describe(r.name));
        } catch (const mui::ResourceFormatError& e) {
            check.problems.push_back(where + ": no dialog template at that offset in the module (" + e.what() + ")");
        }
    }
    check.lines.push_back("dialogs: " + std::to_string(dialogsTranslated.size()) + " of " +
                          std::to_string(app.dialogs.size()) + " translated at the host's offsets" +
                          (dialogsTranslated.empty() ? "" : ": " + names(dialogsTranslated)));
    check.lines.push_back(check.problems.empty()
                              ? "LoadResource: all " + std::to_string(app.leaves.size()) +
                                    " resources of the host lie at their offsets in the module"
                              : "LoadResource: " + std::to_string(check.problems.size()) + " of " +
                                    std::to_string(app.leaves.size()) +
                                    " resources of the host are not held at their offsets in the module");
    check.stringsTranslated = translated;
    check.menusTranslated = menusTranslated;
    check.dialogsTranslated = dialogsTranslated;
    return check;
}

}  // namespace velmark::cli
