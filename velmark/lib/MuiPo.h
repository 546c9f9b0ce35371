// PO and POT files through GNU gettext's libgettextpo: what translators'
// tools (Poedit, Weblate, Lokalize, msgmerge) read and write.
#pragma once

#include "velmark/lib/MuiCatalog.h"

#include <string>
#include <vector>

namespace velmark::cli {

// A template (empty translations) of every text; `application` names the
// executable in the header and the references.
void writePot(const std::string& path, const std::string& application, const std::vector<CatalogText>& texts);

// The translations of a PO file to use: neither empty nor fuzzy nor obsolete.
// A file with a syntax error, or a translation that is not UTF-8, throws
// Failure naming the file and the line.
Translations readPo(const std::string& path);

}  // namespace velmark::cli
