#include "formats/exporttable/ExportTable.h"

#include "formats/common/Problems.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace velmark {
namespace {

struct Expectations {
    struct Count { std::string what; long value; int line; };
    struct Run { uint16_t first, last; };
    std::vector<Count> counts;
    std::vector<Run> runs;
    int runsLine = 0;
};

using TableProblems = Problems<TableError>;

std::vector<std::string> splitWords(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

bool parseNumber(const std::string& text, long& value) {
    if (text.empty() || text.size() > 9) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    value = std::stol(text);
    return true;
}

bool validExportName(const std::string& name) {
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return c > ' ' && c < 0x7f && c != '#'; });
}

void parseExpectation(const std::vector<std::string>& words, int line, Expectations& expect,
                      TableProblems& problems) {
    if (words.size() >= 3 && words[1] == "runs") {
        expect.runsLine = line;
        for (size_t i = 2; i < words.size(); ++i) {
            const std::string& w = words[i];
            size_t dash = w.find('-');
            long first = 0, last = 0;
            bool ok = dash == std::string::npos
                          ? parseNumber(w, first) && parseNumber(w, last)
                          : parseNumber(w.substr(0, dash), first) && parseNumber(w.substr(dash + 1), last);
            if (!ok || first < 1 || last > kMaxOrdinal || first > last) {
                problems.add(line, "bad run '" + w + "'");
                continue;
            }
            expect.runs.push_back({uint16_t(first), uint16_t(last)});
        }
        return;
    }
    long value = 0;
    if (words.size() != 3 || !parseNumber(words[2], value)) {
        problems.add(line, "expected 'expect rows|ForwardByOrdinal|ForwardByName|Local N' or 'expect runs A-B ...'");
        return;
    }
    expect.counts.push_back({words[1], value, line});
}

bool parseDisposition(const std::string& word, Disposition& d) {
    if (word == "ForwardByOrdinal") d = Disposition::ForwardByOrdinal;
    else if (word == "ForwardByName") d = Disposition::ForwardByName;
    else if (word == "Local") d = Disposition::Local;
    else return false;
    return true;
}

void parseRow(const std::vector<std::string>& words, int line, std::vector<ExportEntry>& rows,
              TableProblems& problems) {
    ExportEntry row;
    row.line = line;
    long ordinal = 0;
    if (words.size() < 3 || words.size() > 4) {
        problems.add(line, "expected 'ordinal name disposition [wraps|alone]'");
        return;
    }
    if (!parseNumber(words[0], ordinal) || ordinal < kOrdinalBase || ordinal > kMaxOrdinal) {
        problems.add(line, "ordinal '" + words[0] + "' is outside 1-2055");
        return;
    }
    row.ordinal = uint16_t(ordinal);
    row.name = words[1];
    if (!validExportName(row.name)) {
        problems.add(line, "export name '" + row.name + "' has characters an export name cannot have");
        return;
    }
    if (!parseDisposition(words[2], row.disposition)) {
        problems.add(line, "unknown disposition '" + words[2] +
                               "' (ForwardByOrdinal, ForwardByName or Local)");
        return;
    }
    if (row.disposition == Disposition::Local) {
        if (words.size() != 4 || (words[3] != "wraps" && words[3] != "alone")) {
            problems.add(line, "a Local row ends in 'wraps' or 'alone'");
            return;
        }
        row.reach = words[3] == "wraps" ? Reach::Wraps : Reach::Alone;
    } else if (words.size() == 4) {
        problems.add(line, "only a Local row takes '" + words[3] + "'");
        return;
    }
    rows.push_back(row);
}

void checkUnique(const std::vector<ExportEntry>& rows, TableProblems& problems) {
    std::map<uint16_t, int> ordinals;
    std::map<std::string, int> names;
    for (const ExportEntry& row : rows) {
        auto [o, newOrdinal] = ordinals.emplace(row.ordinal, row.line);
        if (!newOrdinal) {
            problems.add(row.line, "ordinal " + std::to_string(row.ordinal) + " redefined");
            problems.add(o->second, "first defined here");
        }
        auto [n, newName] = names.emplace(row.name, row.line);
        if (!newName) {
            problems.add(row.line, "name '" + row.name + "' redefined");
            problems.add(n->second, "first defined here");
        }
    }
    for (size_t i = 1; i < rows.size(); ++i)
        if (rows[i].ordinal < rows[i - 1].ordinal)
            problems.add(rows[i].line, "ordinal " + std::to_string(rows[i].ordinal) +
                                           " is out of order (rows are kept in ordinal order)");
}

long countOf(const std::vector<ExportEntry>& rows, const std::string& what) {
    if (what == "rows") return long(rows.size());
    Disposition d;
    if (!parseDisposition(what, d)) return -1;
    return std::count_if(rows.begin(), rows.end(), [&](const ExportEntry& r) { return r.disposition == d; });
}

void checkExpectations(const std::vector<ExportEntry>& rows, const Expectations& expect,
                       TableProblems& problems) {
    for (const auto& count : expect.counts) {
        long actual = countOf(rows, count.what);
        if (actual < 0)
            problems.add(count.line, "cannot count '" + count.what + "'");
        else if (actual != count.value)
            problems.add(count.line, "expected " + std::to_string(count.value) + " " + count.what +
                                         ", the table has " + std::to_string(actual));
    }
    if (expect.runsLine == 0) return;
    std::set<uint16_t> inRuns;
    for (const auto& run : expect.runs)
        for (unsigned o = run.first; o <= run.last; ++o) inRuns.insert(uint16_t(o));
    std::set<uint16_t> present;
    for (const ExportEntry& row : rows) {
        present.insert(row.ordinal);
        if (!inRuns.count(row.ordinal))
            problems.add(row.line, "ordinal " + std::to_string(row.ordinal) +
                                       " lies outside the expected runs");
    }
    for (uint16_t o : inRuns)
        if (!present.count(o))
            problems.add(expect.runsLine, "ordinal " + std::to_string(o) +
                                              " of the expected runs has no row");
}

}  // namespace

const char* dispositionName(Disposition d) {
    switch (d) {
    case Disposition::ForwardByOrdinal: return "ForwardByOrdinal";
    case Disposition::ForwardByName: return "ForwardByName";
    case Disposition::Local: return "Local";
    }
    return "?";
}

ExportTable ExportTable::parse(std::string_view text, const std::string& path) {
    TableProblems problems(path);
    Expectations expect;
    ExportTable table;
    std::istringstream in{std::string(text)};
    int lineNumber = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNumber;
        if (size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::vector<std::string> words = splitWords(line);
        if (words.empty()) continue;
        if (words[0] == "expect")
            parseExpectation(words, lineNumber, expect, problems);
        else
            parseRow(words, lineNumber, table.rows_, problems);
    }
    checkUnique(table.rows_, problems);
    checkExpectations(table.rows_, expect, problems);
    problems.raiseIfAny();
    return table;
}

ExportTable ExportTable::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw TableError(path + ": cannot be read\n");
    std::ostringstream text;
    text << in.rdbuf();
    return parse(text.str(), path);
}

const ExportEntry* ExportTable::findOrdinal(uint16_t ordinal) const {
    auto it = std::lower_bound(rows_.begin(), rows_.end(), ordinal,
                               [](const ExportEntry& r, uint16_t o) { return r.ordinal < o; });
    return it != rows_.end() && it->ordinal == ordinal ? &*it : nullptr;
}

const ExportEntry* ExportTable::findName(std::string_view name) const {
    for (const ExportEntry& row : rows_)
        if (row.name == name) return &row;
    return nullptr;
}

std::vector<ImportEntry> ExportTable::imports() const {
    std::vector<ImportEntry> imports;
    for (const ExportEntry& row : rows_)
        if (row.imported())
            imports.push_back({row.ordinal, row.disposition == Disposition::ForwardByName, row.name});
    return imports;
}

std::string ExportTable::exportSymbol(const ExportEntry& row) {
    return row.forwarded() ? "forward_" + std::to_string(row.ordinal) : row.name;
}

std::string ExportTable::importSlotSymbol(uint16_t ordinal) {
    return "coredll_iat_" + std::to_string(ordinal);
}

}  // namespace velmark
