// Which entries of a PO file translate the application as it is now, as
// gettext's tools match them: an entry counts when its msgctxt names a
// place of the application and its msgid is that place's current text.
// Other entries are stale (the text changed) or unknown (no such place).
#pragma once

#include "velmark/lib/MuiCatalog.h"
#include "velmark/lib/MuiPo.h"

#include <string>
#include <vector>

namespace velmark::cli {

struct MatchedTranslations {
    Translations use;                   // by context, every place sharing bytes included
    std::vector<std::string> warnings;  // one line each, naming the PO file and the entries
};

// Throws Failure (check failed) when nothing of the application is
// translated, and Failure (unusable) for places sharing their bytes that
// are given different translations, or a string longer than a string table
// holds. A translation whose printf directives differ from its source's is
// left out with a warning.
MatchedTranslations matchTranslations(const std::vector<PoEntry>& entries, const std::vector<CatalogText>& places,
                                      const std::string& poPath, const std::string& exePath);

}  // namespace velmark::cli
