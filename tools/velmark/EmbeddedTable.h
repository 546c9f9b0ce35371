// The export table source the command was built with (generated at build
// time from exports/coredll.exports; see EmbedTable.cmake).
#pragma once

#include <string_view>

namespace velmark::cli {

std::string_view embeddedTableText();

}  // namespace velmark::cli
