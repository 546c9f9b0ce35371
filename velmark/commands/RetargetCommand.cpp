// velmark retarget APP.exe [-o OUT | --in-place] [--undo] [--table FILE]
//                         [--library NAME=FILE ...] [--dialog-room [PERCENT]]
#include "formats/common/Hex.h"
#include "velmark/commands/Command.h"
#include "velmark/commands/CommandError.h"
#include "velmark/commands/RetargetOptions.h"
#include "velmark/lib/ApplicationRetarget.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/TableSource.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>

namespace fs = std::filesystem;

namespace velmark::cli {
namespace {

constexpr const char* kRetargetedFolder = "retargeted";
constexpr const char* kRestoredFolder = "restored";

struct Options {
    std::string input;
    std::optional<std::string> output;
    std::string table;
    bool inPlace = false;
    bool undo = false;
    std::vector<std::string> libraries;
    DialogRoomOption dialogRoom;
};

// A private copy goes beside the application, where the loader looks first.
// One already there is kept when it holds the same bytes, never replaced.
std::vector<std::string> writeCopies(const std::vector<RoutedCopy>& copies, const std::string& output,
                                     const std::string& input, const std::vector<std::string>& inputs) {
    std::vector<std::string> written;
    const fs::path folder = fs::path(output).parent_path();
    for (const RoutedCopy& copy : copies) {
        const std::string path = (folder / copy.privateName).string();
        refuseToOverwriteInputs(path, inputs);
        std::error_code ec;
        if (fs::exists(fs::symlink_status(path, ec)) && readWholeFile(path) != copy.file)
            throw CommandError(path + ": already exists with other bytes; remove it to route " + copy.name + " again");
    }
    for (const RoutedCopy& copy : copies) {
        const std::string path = (folder / copy.privateName).string();
        writeWholeFile(path, copy.file, input);
        written.push_back(path);
    }
    return written;
}

// The device looks for the banner file and the language module by the
// application's own file name, so the result keeps it: APP.exe is written
// as retargeted/APP.exe beside the input (restored/APP.exe when undoing).
// An input inside the other folder has its result beside that folder.
std::string defaultOutput(const std::string& input, bool undo) {
    fs::path path(input);
    fs::path base = path.parent_path();
    if (base.filename() == (undo ? kRetargetedFolder : kRestoredFolder)) base = base.parent_path();
    return (base / (undo ? kRestoredFolder : kRetargetedFolder) / path.filename()).string();
}

// Every file the command reads: none of them is ever written over, except
// the application itself with --in-place.
std::vector<std::string> inputsOf(const Options& o) {
    std::vector<std::string> inputs = {o.input, o.table};
    for (const LibraryFile& library : libraryFiles(o.libraries)) inputs.push_back(library.path);
    return inputs;
}

// Where the result goes; refuses to overwrite anything it was not told to.
std::string chooseOutput(const Options& o) {
    std::vector<std::string> inputs = inputsOf(o);
    if (o.inPlace) {
        refuseToOverwriteInputs(o.input, std::vector<std::string>(inputs.begin() + 1, inputs.end()));
        return o.input;
    }
    if (o.output) {
        if (o.output->empty()) throw CommandError("-o: the output file name is empty", kExitBadUsage);
        refuseToOverwriteInputs(*o.output, inputs,
                                "choose another output, or use --in-place to change it (a backup is kept)");
        return *o.output;
    }
    std::string output = defaultOutput(o.input, o.undo);
    std::error_code ec;
    if (fs::exists(fs::symlink_status(output, ec)))
        throw CommandError(output + ": already exists; name the output with -o to overwrite it");
    return output;
}

// In place, the original is kept as APP.bak. Undoing in place a file whose
// backup holds exactly the restored bytes gives back the original, so that
// backup has done its work and goes; any other backup is never touched.
void keepOriginal(const Options& o, const std::vector<uint8_t>& result) {
    const std::string backup = o.input + ".bak";
    std::error_code ec;
    if (o.undo && fs::exists(backup, ec) && readWholeFile(backup) == result) {
        fs::remove(backup, ec);
        if (ec) throw CommandError(backup + ": cannot be removed: " + ec.message());
        std::cout << "removed " << backup << ": it holds the same bytes as the restored " << o.input << "\n";
        return;
    }
    makeBackup(o.input, backup);
    std::cout << "kept the original as " << backup << "\n";
}

int run(const Options& o) {
    const std::string output = chooseOutput(o);
    LoadedTable table = loadTable(o.table);
    RetargetRequest request{o.input, readWholeFile(o.input), libraryFiles(o.libraries), dialogRoomPercent(o.dialogRoom), o.undo};
    ApplicationRetarget result;
    try {
        result = retargetApplication(std::move(request), table.table);
    } catch (const NotAnImage& e) {
        throw CommandError(o.input + ": " + e.what(), kExitUnusable);
    } catch (const RetargetRefused& e) {
        throw CommandError(o.input + ": " + e.what(), kExitCheckFailed, e.details());
    }
    if (o.inPlace) keepOriginal(o, result.application.file);
    if (!o.inPlace && !o.output) {
        std::error_code ec;
        const fs::path folder = fs::path(output).parent_path();
        fs::create_directories(folder, ec);
        if (ec) throw CommandError(folder.string() + ": cannot be created: " + ec.message());
    }
    const std::vector<std::string> copies = writeCopies(result.copies, output, o.input, inputsOf(o));
    writeWholeFile(output, result.application.file, o.input);

    for (const RenamedImport& r : result.application.renamed)
        std::cout << o.input << ": import descriptor " << r.descriptor << ": " << r.from << " -> " << r.to << "\n";
    if (!o.undo)
        std::cout << "all " << result.application.importsChecked
                  << " COREDLL imports are exported by VELMARK.dll (checked against " << table.origin << ")\n";
    for (size_t i = 0; i < copies.size(); ++i) {
        std::cout << result.copies[i].name << ": routed through VELMARK.dll as its private copy "
                  << result.copies[i].privateName << "\n";
        for (const RenamedImport& r : result.copies[i].renamed)
            std::cout << "  import descriptor " << r.descriptor << ": " << r.from << " -> " << r.to << "\n";
        std::cout << "wrote " << copies[i] << "\n";
    }
    if (!result.unexamined.empty()) {
        std::string names;
        for (const std::string& name : result.unexamined) names += (names.empty() ? "" : ", ") + name;
        std::cout << "not examined (no file given or found beside " << o.input << "): " << names
                  << (o.undo ? "; an import of a private copy not found beside it keeps its name"
                             : "; a library among them that imports a routed library must be routed too")
                  << "\n";
    }
    if (result.room)
        std::cout << o.input << ": resources laid out again in section " << kRoomSectionName << " at RVA "
                  << velmark::hex(result.room->sectionRva) << ": " << result.room->dialogs
                  << " dialogs with room for their texts to grow by " << *dialogRoomPercent(o.dialogRoom) << " %\n";
    if (result.room)
        for (const std::string& note : result.room->notes) std::cout << "  " << note << "\n";
    if (result.roomRemoved) std::cout << o.input << ": the room for dialogs was taken away\n";
    if (result.application.checksumUpdated) std::cout << "the image checksum was recomputed\n";
    std::cout << "wrote " << output << "\n";
    return kExitOk;
}

}  // namespace

Command addRetargetCommand(CLI::App& app) {
    auto o = std::make_shared<Options>();
    CLI::App* sub = app.add_subcommand(
        "retarget",
        "Make a Windows CE ARM application import VELMARK.dll where it imported COREDLL.dll.\n"
        "The import's DLL name is rewritten in place (same length, the original's letter case kept);\n"
        "nothing else changes. Every ordinal and name the application imports from COREDLL must be one\n"
        "VELMARK exports, otherwise the missing ones are listed and nothing is written.\n"
        "--library NAME=FILE routes a library of the application through VELMARK too: a private copy\n"
        "(same-length file name) with its COREDLL import retargeted is written beside the result, and the\n"
        "application's import of NAME renamed to it; every library that imports a routed one must be\n"
        "routed as well. --dialog-room [PERCENT] lays the resources out again in a new last section, each\n"
        "dialog with room for its texts to grow by PERCENT (default 100); the original section stays.\n"
        "Writes retargeted/APP.exe beside the input (restored/APP.exe with --undo), keeping the\n"
        "application's file name, unless -o or --in-place. --undo restores the original byte for byte.\n"
        "Exit status: 0 written, 1 refused (the application does not qualify, or is already in the asked\n"
        "state), 2 bad usage (an output that is one of the inputs) or a file that cannot be used (unreadable,\n"
        "not a PE image, cannot be written).");
    sub->add_option("APP", o->input, "the application image (.exe or .dll)")->required();
    sub->add_option("--table", o->table, "export table source to check against (default: the built-in copy)");
    CLI::Option* output = sub->add_option("-o,--output", o->output, "write the result here (overwrites it)");
    sub->add_flag("--in-place", o->inPlace, "change APP itself, keeping the original as APP.bak")->excludes(output);
    CLI::Option* undo = sub->add_flag("--undo", o->undo, "restore a retargeted application byte for byte: its "
                                                         "COREDLL.dll import, its libraries' names, no room");
    addLibraryOption(*sub, o->libraries, "a library of the application to route through VELMARK")->excludes(undo);
    addDialogRoomOption(*sub, o->dialogRoom)->excludes(undo);
    return {sub, [o] { return run(*o); }, &o->input};
}

}  // namespace velmark::cli
