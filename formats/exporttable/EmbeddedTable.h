// The export table the build was made with: the text of
// module/exports/coredll.exports, embedded at build time (EmbedTable.cmake),
// and that text parsed.
#pragma once

#include "formats/exporttable/ExportTable.h"

#include <string_view>

namespace velmark {

std::string_view embeddedTableText();

// Parsed once; the build has already refused a table with problems.
const ExportTable& coredllTable();

}  // namespace velmark
