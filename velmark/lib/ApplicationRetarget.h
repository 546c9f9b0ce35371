// Everything retarget does to an application, without the command line:
// its COREDLL import renamed to VELMARK, the libraries given routed through
// VELMARK as private copies, and its resources laid out again with room for
// translated dialogs; or all of it undone, byte for byte.
#pragma once

#include "formats/exporttable/ExportTable.h"
#include "velmark/lib/ApplicationLibraries.h"
#include "velmark/lib/LibraryRouting.h"
#include "velmark/lib/Retarget.h"
#include "velmark/lib/RoomLayout.h"

#include <optional>
#include <string>
#include <vector>

namespace velmark::cli {

struct RetargetRequest {
    std::string appPath;  // names it in messages; its folder is searched for its libraries
    std::vector<uint8_t> file;
    std::vector<LibraryFile> libraries;
    std::optional<unsigned> dialogRoomPercent;
    bool undo = false;
};

struct ApplicationRetarget {
    RetargetResult application;      // the application's bytes and every import renamed in it
    std::vector<RoutedCopy> copies;  // to be written beside the application
    std::optional<RoomLayout> room;  // its file left empty: the application's bytes hold it
    bool roomRemoved = false;        // undo: the room section was taken away
    std::vector<std::string> unexamined;
};

// Throws RetargetRefused (or Failure for a library file) with the reason;
// nothing is written here.
ApplicationRetarget retargetApplication(RetargetRequest request, const velmark::ExportTable& table);

}  // namespace velmark::cli
