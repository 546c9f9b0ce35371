// The export table the subcommands check against: a file given with
// --table, or the copy built into the command.
#pragma once

#include "formats/exporttable/ExportTable.h"

#include <string>

namespace velmark::cli {

struct LoadedTable {
    velmark::ExportTable table;
    std::string origin;  // the file's path, or a description of the built-in copy
};

// Throws Failure naming the file and every problem the parser found.
LoadedTable loadTable(const std::string& path);

}  // namespace velmark::cli
