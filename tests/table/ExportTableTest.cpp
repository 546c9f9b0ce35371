#include "formats/exporttable/ExportTable.h"

#include <gtest/gtest.h>

#include <set>

using velmark::Disposition;
using velmark::ExportTable;
using velmark::TableError;

namespace {

// The message parse() raises for `text`, or "" when it is accepted.
std::string problemsIn(const std::string& text) {
    try {
        ExportTable::parse(text, "t.exports");
    } catch (const TableError& e) {
        return e.what();
    }
    return "";
}

TEST(ExportTableSource, CommittedTableHasCoredllsShape) {
    ExportTable table = ExportTable::load(VELMARK_TABLE);
    ASSERT_EQ(table.rows().size(), 1675u);
    EXPECT_EQ(table.findName("LoadStringW")->ordinal, 874);
    EXPECT_EQ(table.findOrdinal(1781)->name, "CeZeroPointer");
    EXPECT_EQ(table.findOrdinal(2054)->name, "setjmp");
    EXPECT_EQ(table.findOrdinal(2055)->name, "_mbmemset");
    EXPECT_EQ(table.findOrdinal(2004), nullptr);
    EXPECT_EQ(table.findOrdinal(2007), nullptr);
    for (uint16_t o = 1761; o < 2000; ++o) {
        if (o == 1781) continue;
        EXPECT_EQ(table.findOrdinal(o), nullptr) << o;
    }
}

TEST(ExportTableSource, ImportsAreTheForwardedRowsAndTheWrappedOverrides) {
    ExportTable table = ExportTable::load(VELMARK_TABLE);
    auto imports = table.imports();
    ASSERT_EQ(imports.size(), 1665u);
    std::set<uint16_t> byName, ordinals;
    for (const auto& import : imports) {
        ordinals.insert(import.ordinal);
        if (import.byName) byName.insert(import.ordinal);
    }
    EXPECT_EQ(byName, (std::set<uint16_t>{55, 81, 84, 85, 86, 333, 334, 501}));
    for (uint16_t alone : {1169, 1170, 1171, 1172, 1173, 1174, 1175, 1176, 1214, 1781})
        EXPECT_FALSE(ordinals.count(alone)) << alone;
    for (uint16_t wrapped : {295, 378, 390, 404, 406, 409, 413, 488, 489, 533, 688, 690, 846, 848, 873, 874})
        EXPECT_TRUE(ordinals.count(wrapped)) << wrapped;
}

TEST(ExportTableValidation, AcceptsAWellFormedTable) {
    EXPECT_EQ(problemsIn("expect rows 3\nexpect Local 1\nexpect runs 1-2 7\n"
                         "1 A ForwardByOrdinal\n2 B ForwardByName  # note\n7 C Local alone\n"),
              "");
}

TEST(ExportTableValidation, DuplicatesNameBothLines) {
    EXPECT_EQ(problemsIn("1 A ForwardByOrdinal\n\n1 B ForwardByOrdinal\n"),
              "t.exports:3: ordinal 1 redefined\nt.exports:1: first defined here\n");
    EXPECT_EQ(problemsIn("1 A ForwardByOrdinal\n2 A ForwardByOrdinal\n"),
              "t.exports:2: name 'A' redefined\nt.exports:1: first defined here\n");
}

TEST(ExportTableValidation, RejectsMalformedRowsNamingTheLine) {
    EXPECT_EQ(problemsIn("0 A ForwardByOrdinal\n"), "t.exports:1: ordinal '0' is outside 1-2055\n");
    EXPECT_EQ(problemsIn("1 A ForwardByOrdinal\n2056 B ForwardByOrdinal\n"),
              "t.exports:2: ordinal '2056' is outside 1-2055\n");
    EXPECT_NE(problemsIn("x A ForwardByOrdinal\n").find("t.exports:1: ordinal 'x'"), std::string::npos);
    EXPECT_NE(problemsIn("1 A Forward\n").find("t.exports:1: unknown disposition 'Forward'"),
              std::string::npos);
    EXPECT_NE(problemsIn("1 A Local\n").find("t.exports:1: a Local row ends in"), std::string::npos);
    EXPECT_NE(problemsIn("1 A ForwardByName wraps\n").find("t.exports:1: only a Local row"),
              std::string::npos);
    EXPECT_NE(problemsIn("1 A\n").find("t.exports:1: expected"), std::string::npos);
    EXPECT_NE(problemsIn("2 A ForwardByOrdinal\n1 B ForwardByOrdinal\n").find("t.exports:2: ordinal 1 is out of order"),
              std::string::npos);
}

TEST(ExportTableValidation, WrongCountsNameTheExpectation) {
    EXPECT_EQ(problemsIn("expect rows 2\n1 A ForwardByOrdinal\n"),
              "t.exports:1: expected 2 rows, the table has 1\n");
    EXPECT_EQ(problemsIn("1 A ForwardByOrdinal\nexpect ForwardByName 1\n"),
              "t.exports:2: expected 1 ForwardByName, the table has 0\n");
    EXPECT_EQ(problemsIn("expect Local 0\n1 A Local wraps\n"),
              "t.exports:1: expected 0 Local, the table has 1\n");
}

TEST(ExportTableValidation, RowsMustFillTheExpectedRunsExactly) {
    EXPECT_EQ(problemsIn("expect runs 1-2\n1 A ForwardByOrdinal\n2 B ForwardByOrdinal\n3 C ForwardByOrdinal\n"),
              "t.exports:4: ordinal 3 lies outside the expected runs\n");
    EXPECT_EQ(problemsIn("expect runs 1-3\n1 A ForwardByOrdinal\n3 C ForwardByOrdinal\n"),
              "t.exports:1: ordinal 2 of the expected runs has no row\n");
}

TEST(ExportTableQueries, SymbolsFollowTheDisposition) {
    ExportTable table = ExportTable::parse("5 A ForwardByName\n9 B Local wraps\n", "t");
    EXPECT_EQ(ExportTable::exportSymbol(table.rows()[0]), "forward_5");
    EXPECT_EQ(ExportTable::exportSymbol(table.rows()[1]), "B");
    EXPECT_EQ(ExportTable::importSlotSymbol(9), "coredll_iat_9");
    ASSERT_EQ(table.imports().size(), 2u);
    EXPECT_TRUE(table.imports()[0].byName);
    EXPECT_EQ(table.imports()[0].name, "A");
}

}  // namespace
