// What a language module changes that the application shows: its
// translations that the application's requests reach through VELMARK, and
// those they never reach, with the reason.
#pragma once

#include "velmark/lib/MuiCheck.h"
#include "velmark/lib/ResourceReach.h"

#include <string>
#include <vector>

namespace velmark::cli {

struct ReachVerdict {
    std::vector<std::string> lines;
    bool changesNothing = false;  // no translation of the module is reached
};

ReachVerdict judgeReach(const ModuleCheck& check, const ResourceReach& reach, const std::string& application);

}  // namespace velmark::cli
