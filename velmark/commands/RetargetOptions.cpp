#include "velmark/commands/RetargetOptions.h"

#include "velmark/lib/Failure.h"
#include "velmark/lib/RoomLayout.h"

#include <CLI/CLI.hpp>

#include <cctype>

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

CLI::Option* addDialogRoomOption(CLI::App& command, DialogRoomOption& room) {
    room.option = command.add_option("--dialog-room", room.text,
                                     "give dialogs room for their texts to grow by PERCENT (default 100)")
                      ->expected(0, 1);
    return room.option;
}

std::optional<unsigned> dialogRoomPercent(const DialogRoomOption& room) {
    constexpr unsigned kMostDialogRoom = 1000;
    if (!room.option || !room.option->count()) return std::nullopt;
    if (room.text.empty()) return kDefaultDialogRoomPercent;
    size_t used = 0;
    unsigned long percent = 0;
    try {
        percent = std::stoul(room.text, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != room.text.size() || !std::isdigit(static_cast<unsigned char>(room.text[0])) ||
        percent > kMostDialogRoom)
        throw Failure("--dialog-room " + room.text + ": not a percentage from 0 to " +
                          std::to_string(kMostDialogRoom) + " (how much the texts of each dialog may grow)",
                      FailureKind::BadUsage);
    return unsigned(percent);
}

}  // namespace velmark::cli
