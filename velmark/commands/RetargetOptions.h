// The options of retargeting that other commands take too: --library
// NAME=FILE, repeatable (check, retarget, mui check, package), and
// --dialog-room [PERCENT] (retarget, package).
#pragma once

#include "velmark/lib/ApplicationLibraries.h"

#include <optional>
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

struct DialogRoomOption {
    CLI::Option* option = nullptr;
    std::string text;
};
CLI::Option* addDialogRoomOption(CLI::App& command, DialogRoomOption& room);
// Nothing when not given; throws Failure (bad usage) for a value that is no
// percentage.
std::optional<unsigned> dialogRoomPercent(const DialogRoomOption& room);

}  // namespace velmark::cli
