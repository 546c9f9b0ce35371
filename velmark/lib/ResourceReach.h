// Whether an application's requests for its strings, menus and dialogs reach
// VELMARK, and so its language module. A request reaches it when the module
// making it imports the redirected function from COREDLL (which retarget
// turns into VELMARK) and is the executable itself or a library routed
// through VELMARK. A library that is not routed loads them from COREDLL
// itself, and Pocket PC menu bars are loaded by the shell: neither is ever
// translated.
#pragma once

#include "formats/exporttable/ExportTable.h"
#include "velmark/lib/ApplicationLibraries.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmark::cli {

struct KindReach {
    std::vector<std::string> reachedThrough;  // "app.exe (LoadStringW)"
    std::vector<std::string> missedThrough;   // why requests of other modules never reach VELMARK
    bool reached() const { return !reachedThrough.empty(); }
};

struct MenuBar {
    std::string resource;  // e.g. "#100"
    uint16_t menu = 0;     // the menu resource it shows
};

struct ResourceReach {
    KindReach strings, menus, dialogs;
    std::vector<MenuBar> menuBars;
    std::vector<std::string> unexamined;
};

// The application's own COREDLL imports count as VELMARK's: it is judged as
// it will be once retargeted.
ResourceReach resourceReach(const pe::Image& app, const ApplicationLibraries& libraries,
                            const velmark::ExportTable& table);

// The report, one line each.
std::vector<std::string> describeReach(const ResourceReach& reach, const std::string& application);

// "strings", "menus", "dialogs": why requests of that kind miss VELMARK.
std::string whyMissed(const KindReach& kind, const std::string& what);

}  // namespace velmark::cli
