#include "velmark/commands/LibraryOptions.h"

#include <CLI/CLI.hpp>

namespace velmark::cli {

CLI::Option* addLibraryOption(CLI::App& command, std::vector<std::string>& values, const std::string& description) {
    return command.add_option("--library", values, description + " (NAME=FILE: the name the application imports, "
                                                          "the library's file; repeatable)");
}

std::vector<LibraryFile> libraryFiles(const std::vector<std::string>& values) {
    std::vector<LibraryFile> files;
    for (const std::string& value : values) files.push_back(parseLibraryOption(value));
    return files;
}

}  // namespace velmark::cli
