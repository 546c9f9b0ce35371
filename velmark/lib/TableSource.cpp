#include "velmark/lib/TableSource.h"

#include "formats/exporttable/EmbeddedTable.h"
#include "velmark/lib/Failure.h"
#include "velmark/lib/FileIo.h"

namespace velmark::cli {

LoadedTable loadTable(const std::string& path) {
    if (path.empty()) {
        const std::string origin = "the built-in exports/coredll.exports";
        return {velmark::ExportTable::parse(embeddedTableText(), origin), origin};
    }
    // Read here, so that a directory or an unreadable file is named as such.
    std::vector<uint8_t> bytes = readWholeFile(path);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    try {
        // The parser and checks the build runs on its own table.
        velmark::ExportTable table = velmark::ExportTable::parse(text, path);
        if (table.rows().empty()) throw Failure(path + ": not a usable export table: it has no export rows");
        return {std::move(table), path};
    } catch (const velmark::TableError& e) {
        std::string problems = e.what();
        while (!problems.empty() && problems.back() == '\n') problems.pop_back();
        throw Failure(path + ": not a usable export table:\n" + problems);
    }
}

}  // namespace velmark::cli
