#include "formats/exporttable/EmbeddedTable.h"

namespace velmark {

const ExportTable& coredllTable() {
    static const ExportTable table = ExportTable::parse(embeddedTableText(), "the built-in coredll.exports");
    return table;
}

}  // namespace velmark
