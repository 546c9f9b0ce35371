// Routing an application's libraries through VELMARK: a private copy of each
// library given, with its COREDLL import retargeted and its imports of other
// routed libraries renamed to their private copies, and the application's
// imports renamed to match. One copy of each library per process: every
// library of the application that imports a routed one, directly or through
// another, must be routed too, or the process would hold the system's copy
// beside the private one.
#pragma once

#include "formats/exporttable/ExportTable.h"
#include "velmark/lib/ApplicationLibraries.h"
#include "velmark/lib/ImportRenames.h"

#include <optional>
#include <string>
#include <vector>

namespace velmark::cli {

struct RoutedCopy {
    std::string name;         // as the application imports it
    std::string privateName;  // the copy's file name
    std::vector<uint8_t> file;
    std::vector<RenamedImport> renamed;
};

// Why a library cannot be routed (not a DLL for ARM or ARMV4I, imports
// from COREDLL what VELMARK lacks, ...), each lacking import in `details`.
std::optional<std::string> whyNotRoutable(const ExaminedLibrary& library, const velmark::ExportTable& table,
                                          std::vector<std::string>* details = nullptr);

// What check says of the libraries given: whether each can be routed, its
// private name, and which other libraries routing it drags in.
struct LibraryVerdict {
    std::vector<std::string> lines;
    bool routable = true;  // every library given qualifies and the set is complete
};
LibraryVerdict checkLibraries(const ApplicationLibraries& libraries, const velmark::ExportTable& table);

// The private copies of the given libraries. Throws RetargetRefused for a
// library that cannot be routed, for an incomplete set (naming the library
// to add) and for a private name that another library already bears.
std::vector<RoutedCopy> routeLibraries(const ApplicationLibraries& libraries, const velmark::ExportTable& table);

// The renaming of imports of routed libraries to their private copies.
ImportRename toPrivateCopies(const ApplicationLibraries& libraries);

// The renaming back, for undo: imports of private copies found beside the
// application (each imports VELMARK.dll), to the names the copies were made from.
ImportRename fromPrivateCopies(const ApplicationLibraries& libraries);

}  // namespace velmark::cli
