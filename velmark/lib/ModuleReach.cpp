#include "velmark/lib/ModuleReach.h"

namespace velmark::cli {
namespace {

std::string counted(size_t n, const std::string& one, const std::vector<std::string>& names = {}) {
    std::string out = std::to_string(n) + " " + one + (n == 1 ? "" : "s");
    if (names.empty()) return out;
    std::string list;
    for (size_t i = 0; i < names.size() && i < 20; ++i) list += (i ? ", " : "") + names[i];
    if (names.size() > 20) list += " and " + std::to_string(names.size() - 20) + " more";
    return out + " (" + list + ")";
}

}  // namespace

ReachVerdict judgeReach(const ModuleCheck& check, const ResourceReach& reach, const std::string& application) {
    ReachVerdict verdict;
    std::vector<std::string> reached, missed;
    size_t reachedCount = 0;
    auto judge = [&](size_t n, const std::string& one, const std::vector<std::string>& names, const KindReach& kind,
                     const std::string& what) {
        if (!n) return;
        if (kind.reached()) {
            reached.push_back(counted(n, one, names));
            reachedCount += n;
        } else {
            missed.push_back(counted(n, one, names) + ", because " + whyMissed(kind, what));
        }
    };
    judge(check.stringsTranslated, "string", {}, reach.strings, "strings");
    std::vector<std::string> menus;
    for (const std::string& menu : check.menusTranslated) {
        bool onBar = false;
        for (const MenuBar& bar : reach.menuBars)
            if (menu == "#" + std::to_string(bar.menu)) {
                missed.push_back("menu " + menu + ", because it is menu bar SHMENUBAR " + bar.resource +
                                 ", which the shell loads itself");
                onBar = true;
            }
        if (!onBar) menus.push_back(menu);
    }
    judge(menus.size(), "menu", menus, reach.menus, "menus");
    judge(check.dialogsTranslated.size(), "dialog", check.dialogsTranslated, reach.dialogs, "dialogs");

    std::string list;
    for (const std::string& r : reached) list += (list.empty() ? "" : ", ") + r;
    verdict.lines.push_back("translated and reached: " + (list.empty() ? std::string("nothing") : list));
    for (const std::string& m : missed) verdict.lines.push_back("translated but not reached: " + m);
    verdict.changesNothing = reachedCount == 0;
    if (verdict.changesNothing)
        verdict.lines.push_back("the module changes nothing " + application + " shows");
    return verdict;
}

}  // namespace velmark::cli
