// --library NAME=FILE, repeatable, as check, retarget and mui check take it.
#pragma once

#include "velmark/lib/ApplicationLibraries.h"

#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
}

namespace velmark::cli {

CLI::Option* addLibraryOption(CLI::App& command, std::vector<std::string>& values, const std::string& description);
// Throws Failure (bad usage) for a value that is not NAME=FILE.
std::vector<LibraryFile> libraryFiles(const std::vector<std::string>& values);

}  // namespace velmark::cli
