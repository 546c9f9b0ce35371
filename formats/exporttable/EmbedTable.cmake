# Writes the export table source into a C++ file as one string, so that the
# programs built with it carry the table they were built with.
#   cmake -DTABLE=coredll.exports -DOUT=EmbeddedTable.cpp -P EmbedTable.cmake
file(READ ${TABLE} text)
string(FIND "${text}" ")velmark_table\"" clash)
if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${TABLE} contains the raw string's closing delimiter")
endif()
file(WRITE ${OUT}.new
"// Generated from ${TABLE} by EmbedTable.cmake; do not edit.
#include \"formats/exporttable/EmbeddedTable.h\"

namespace velmark {

std::string_view embeddedTableText() {
    static const char text[] = R\"velmark_table(${text})velmark_table\";
    return std::string_view(text, sizeof text - 1);
}

}  // namespace velmark
")
# Only a changed table rebuilds the command.
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
