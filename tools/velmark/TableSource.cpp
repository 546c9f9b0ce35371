#include "TableSource.h"

#include "CommandError.h"
#include "EmbeddedTable.h"

#include <fstream>

namespace velmark::cli {

LoadedTable loadTable(const std::string& path) {
    if (path.empty()) {
        const std::string origin = "the built-in exports/coredll.exports";
        return {velmark::ExportTable::parse(embeddedTableText(), origin), origin};
    }
    if (!std::ifstream(path)) throw CommandError(path + ": cannot be read");
    try {
        return {velmark::ExportTable::load(path), path};
    } catch (const velmark::TableError& e) {
        std::string problems = e.what();
        while (!problems.empty() && problems.back() == '\n') problems.pop_back();
        throw CommandError(path + ": not a usable export table:\n" + problems);
    }
}

}  // namespace velmark::cli
