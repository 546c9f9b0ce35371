// PO and POT files through GNU gettext's libgettextpo: what translators'
// tools (Poedit, Weblate, Lokalize, msgmerge) read and write.
#pragma once

#include "velmark/lib/MuiCatalog.h"

#include <optional>
#include <string>
#include <vector>

namespace velmark::cli {

// A template (empty translations) of every text; `application` names the
// executable in the header and the references. A text holding printf
// directives is marked c-format, so that msgfmt -c checks its translation.
void writePot(const std::string& path, const std::string& application, const std::vector<CatalogText>& texts);

// One translated entry of a PO file, in UTF-16 whatever the file's charset.
struct PoEntry {
    size_t line = 0;                     // its first line; 0 when unknown
    std::optional<std::string> context;  // msgctxt, in UTF-8
    std::u16string source, translation;  // msgid, msgstr
};

// The entries of a PO file that translate something: neither empty nor
// fuzzy nor obsolete, the header left out. The file may be in any charset
// iconv converts (its header names it) and may begin with a UTF-8
// byte-order mark. Throws Failure naming the file and the line for a
// syntax error, bytes not of the charset, a repeated msgctxt (naming both
// lines), and a translation holding a NUL or a control character its source
// text does not hold (naming the entry).
std::vector<PoEntry> readPo(const std::string& path);

// Why a translation cannot stand in for its source as a wsprintfW format:
// gettext's c-format check when the source holds directives, and then the
// arguments the device's wsprintfW takes (no positional arguments there).
// Nothing when it can.
std::optional<std::string> printfProblem(const std::u16string& source, const std::u16string& translation);

}  // namespace velmark::cli
