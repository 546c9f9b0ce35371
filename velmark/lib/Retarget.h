// Making an application import VELMARK in place of COREDLL, and back: the
// name of each COREDLL import descriptor is rewritten in place. Both names
// have eleven characters, so nothing else of the image moves.
#pragma once

#include "formats/exporttable/ExportTable.h"
#include "formats/pe/PeImage.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmark::cli {

enum class RetargetDirection { ToVelmark, ToCoredll };

// The image cannot be rewritten; the message says why, the details list each
// offending import when there are several.
class RetargetRefused : public std::runtime_error {
public:
    explicit RetargetRefused(const std::string& message, std::vector<std::string> details = {})
        : std::runtime_error(message), details_(std::move(details)) {}
    const std::vector<std::string>& details() const { return details_; }

private:
    std::vector<std::string> details_;
};

// The file is not a PE image at all.
class NotAnImage : public RetargetRefused {
public:
    using RetargetRefused::RetargetRefused;
};

struct RenamedImport {
    size_t descriptor = 0;
    std::string from;
    std::string to;
};

struct RetargetResult {
    std::vector<uint8_t> file;
    std::vector<RenamedImport> renamed;
    size_t importsChecked = 0;     // COREDLL entries found among VELMARK's exports
    bool checksumUpdated = false;  // the header held a valid checksum, now kept valid
};

// The new DLL name for `from`, written with the letter case of `from` at each
// position, so that undoing restores the original bytes exactly whatever case
// the application's linker used ("COREDLL.dll" -> "VELMARK.dll",
// "coredll.dll" -> "velmark.dll").
std::string nameWithCaseOf(std::string_view from, const std::string& newName);

bool isRetargeted(const pe::Image& image);  // imports VELMARK.dll
// How many entries the image imports from `dll` (its name in any letter case).
size_t entriesImportedFrom(const pe::Image& image, std::string_view dll);

// Imports the application takes from COREDLL that VELMARK does not export,
// one description each ("ordinal 554", "name \"FooBar\""): the first `shown`
// of them, then "... and N more"; `total` receives how many there are.
std::vector<std::string> importsVelmarkLacks(const pe::Image& image, const velmark::ExportTable& table,
                                             size_t shown = SIZE_MAX, size_t* total = nullptr);

// Rewrites `file`. Throws RetargetRefused for a file that is not a PE image,
// not an ARM or ARMV4I Windows CE image, is VELMARK or COREDLL itself, has no import to rewrite, is already in the
// asked state, is bound, or (towards VELMARK) imports what VELMARK lacks.
RetargetResult retargetImage(std::vector<uint8_t> file, RetargetDirection direction,
                             const velmark::ExportTable& table);

}  // namespace velmark::cli
