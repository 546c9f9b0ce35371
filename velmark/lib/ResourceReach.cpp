#include "velmark/lib/ResourceReach.h"

#include "formats/common/DllNames.h"
#include "formats/common/Printable.h"
#include "formats/pe/ByteOrder.h"
#include "formats/pe/Resources.h"

#include <set>

namespace velmark::cli {
namespace {

using Functions = std::set<std::string>;

// What the image imports from COREDLL (or VELMARK), by name.
Functions importedFunctions(const pe::Image& image, const velmark::ExportTable& table) {
    Functions out;
    for (const pe::ImportedLibrary& library : image.imports) {
        if (!isSystemInterface(library.dllName)) continue;
        for (const pe::Import& import : library.entries) {
            if (!import.byOrdinal) out.emplace(import.name);
            else if (const velmark::ExportEntry* row = table.findOrdinal(import.ordinal)) out.insert(row->name);
        }
    }
    return out;
}

// The functions by which a module loads resources of each kind itself, or "".
std::string stringLoads(const Functions& f) { return f.count("LoadStringW") ? "LoadStringW" : ""; }
std::string menuLoads(const Functions& f) { return f.count("LoadMenuW") ? "LoadMenuW" : ""; }
std::string dialogLoads(const Functions& f) {
    if (!f.count("LoadResource")) return "";
    for (const char* create : {"CreateDialogIndirectParamW", "DialogBoxIndirectParamW"})
        if (f.count(create)) return std::string("LoadResource, ") + create;
    return "";
}

std::string joined(const std::vector<std::string>& parts, const char* separator = ", ") {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : separator) + p;
    return out;
}

bool isMfcRuntime(std::string_view name) { return foldedDllName(name).rfind("mfcce", 0) == 0; }

std::vector<MenuBar> menuBarsOf(const pe::Image& app) {
    std::vector<MenuBar> bars;
    try {
        for (const pe::Resource& r : pe::readResources(app)) {
            if (r.type.isId() || pe::describe(r.type) != "SHMENUBAR" || r.size < 2) continue;
            std::vector<uint8_t> bytes = pe::resourceBytes(app, r);
            bars.push_back({pe::describe(r.name), pe::loadLe16(bytes.data())});
        }
    } catch (const pe::PeFormatError&) {
        // An unreadable directory is reported by the commands that read resources.
    }
    return bars;
}

}  // namespace

ResourceReach resourceReach(const pe::Image& app, const ApplicationLibraries& libraries,
                            const velmark::ExportTable& table) {
    ResourceReach reach;
    auto note = [&reach](std::string_view name, const Functions& f, bool reaches, const std::string& route) {
        const std::string module = printable(name);
        for (auto [kind, loads] : {std::pair{&reach.strings, stringLoads(f)}, std::pair{&reach.menus, menuLoads(f)},
                                   std::pair{&reach.dialogs, dialogLoads(f)}}) {
            if (loads.empty()) continue;
            if (reaches) kind->reachedThrough.push_back(module + " (" + loads + ")");
            else kind->missedThrough.push_back(module + " loads them from COREDLL itself (" + loads + "); " + route);
        }
    };
    note(libraries.application, importedFunctions(app, table), true, "");
    for (const ExaminedLibrary& library : libraries.examined)
        note(library.name, importedFunctions(library.image, table), library.routed(),
             "route it: velmark retarget --library " + printable(library.name) + "=" + library.path);
    for (const std::string& name : libraries.unexamined) {
        if (!isMfcRuntime(name)) {
            reach.unexamined.push_back(printable(name));
            continue;
        }
        for (KindReach* kind : {&reach.strings, &reach.menus, &reach.dialogs})
            kind->missedThrough.push_back(printable(name) + ", the MFC runtime, loads them from COREDLL itself; "
                                          "route it: velmark retarget --library " + printable(name) + "=FILE");
    }
    reach.menuBars = menuBarsOf(app);
    return reach;
}

std::string whyMissed(const KindReach& kind, const std::string& what) {
    std::string why = kind.reached() ? "" : "no module of the application loads " + what + " through VELMARK";
    if (!kind.missedThrough.empty()) why += (why.empty() ? "" : "; ") + joined(kind.missedThrough, "; ");
    return why;
}

std::vector<std::string> describeReach(const ResourceReach& reach, const std::string& application) {
    std::vector<std::string> lines{"requests that reach VELMARK.dll (" + application + "'s own imports as once retargeted):"};
    for (auto [kind, what] : {std::pair{&reach.strings, "strings"}, std::pair{&reach.menus, "menus"},
                              std::pair{&reach.dialogs, "dialogs"}}) {
        std::string line = std::string("  ") + what + ": ";
        if (!kind->reached()) line += "not reached: " + whyMissed(*kind, what);
        else line += "reached through " + joined(kind->reachedThrough) +
                     (kind->missedThrough.empty() ? "" : "; not through " + joined(kind->missedThrough, "; "));
        lines.push_back(line);
    }
    for (const MenuBar& bar : reach.menuBars)
        lines.push_back("  menu bar SHMENUBAR " + bar.resource + " (menu #" + std::to_string(bar.menu) +
                        "): loaded by the shell (SHCreateMenuBar), never translated");
    if (!reach.unexamined.empty())
        lines.push_back("  not examined (no file given or found beside " + application + "): " +
                        joined(reach.unexamined) + "; a library among them that loads resources of " + application +
                        " itself is not reached either");
    return lines;
}

}  // namespace velmark::cli
