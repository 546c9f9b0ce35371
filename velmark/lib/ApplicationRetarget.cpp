#include "velmark/lib/ApplicationRetarget.h"

#include "velmark/lib/ImportRenames.h"

namespace velmark::cli {
namespace {

pe::Image readOrRefuse(std::vector<uint8_t> file) {
    try {
        return pe::readImage(std::move(file));
    } catch (const pe::PeFormatError& e) {
        throw NotAnImage(std::string("not a PE image: ") + e.what());
    }
}

void renameToo(ApplicationRetarget& result, const ImportRename& rename) {
    pe::Image image = readOrRefuse(std::move(result.application.file));
    ImportRenaming renamed = renameImports(image, rename);
    result.application.renamed.insert(result.application.renamed.end(), renamed.renamed.begin(),
                                      renamed.renamed.end());
    result.application.file = std::move(image.file);
}

// Room goes last and comes off first: its record then holds the header
// fields exactly as the renamed image had them.
ApplicationRetarget undo(RetargetRequest& request, const velmark::ExportTable& table) {
    ApplicationRetarget result;
    pe::Image image = readOrRefuse(std::move(request.file));
    if (std::optional<std::vector<uint8_t>> without = withoutDialogRoom(image)) {
        image = readOrRefuse(std::move(*without));
        result.roomRemoved = true;
    }
    const ApplicationLibraries libraries = examineLibraries(image, request.appPath, {});
    result.application = retargetImage(std::move(image.file), RetargetDirection::ToCoredll, table);
    renameToo(result, fromPrivateCopies(libraries));
    result.unexamined = libraries.unexamined;
    return result;
}

}  // namespace

ApplicationRetarget retargetApplication(RetargetRequest request, const velmark::ExportTable& table) {
    if (request.undo) return undo(request, table);
    ApplicationRetarget result;
    pe::Image image = readOrRefuse(request.file);
    const ApplicationLibraries libraries = examineLibraries(image, request.appPath, request.libraries);
    result.application = retargetImage(std::move(request.file), RetargetDirection::ToVelmark, table);
    result.copies = routeLibraries(libraries, table);
    renameToo(result, toPrivateCopies(libraries));
    if (!request.libraries.empty()) result.unexamined = libraries.unexamined;
    if (request.dialogRoomPercent) {
        RoomLayout room = layOutWithRoom(readOrRefuse(std::move(result.application.file)), *request.dialogRoomPercent);
        result.application.file = std::move(room.file);
        room.file.clear();
        result.room = std::move(room);
    }
    return result;
}

}  // namespace velmark::cli
