// The export table source (exports/coredll.exports): parsing, validation and
// the queries the generator, the image writer and the tools share.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velmark {

enum class Disposition { ForwardByOrdinal, ForwardByName, Local };

// For Local rows: whether the override calls COREDLL's function of its own
// name (so that ordinal is imported too) or answers alone (never imported).
enum class Reach { None, Wraps, Alone };

struct ExportEntry {
    uint16_t ordinal = 0;
    std::string name;
    Disposition disposition = Disposition::ForwardByOrdinal;
    Reach reach = Reach::None;
    int line = 0;

    bool forwarded() const { return disposition != Disposition::Local; }
    bool imported() const { return forwarded() || reach == Reach::Wraps; }
};

// One COREDLL import; the IAT slot of an import is labelled by the ordinal of
// the export row it serves, which is COREDLL's ordinal for that function.
struct ImportEntry {
    uint16_t ordinal = 0;
    bool byName = false;
    std::string name;
};

// Thrown with every problem found, one "file:line: message" per line.
class TableError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr uint16_t kMaxOrdinal = 2055;
constexpr uint16_t kOrdinalBase = 1;

class ExportTable {
public:
    static ExportTable parse(std::string_view text, const std::string& path);
    static ExportTable load(const std::string& path);

    const std::vector<ExportEntry>& rows() const { return rows_; }  // ordinal order
    const ExportEntry* findOrdinal(uint16_t ordinal) const;
    const ExportEntry* findName(std::string_view name) const;

    // The imports from COREDLL in IAT order (ordinal order).
    std::vector<ImportEntry> imports() const;
    // Symbol at the export's address in the linked module.
    static std::string exportSymbol(const ExportEntry& row);
    // Symbol of the IAT slot bound to COREDLL's function for this ordinal.
    static std::string importSlotSymbol(uint16_t ordinal);

private:
    std::vector<ExportEntry> rows_;
};

const char* dispositionName(Disposition d);

}  // namespace velmark
