// velmark retarget APP.exe [-o OUT | --in-place] [--undo] [--table FILE]
#include "velmark/commands/Command.h"
#include "velmark/commands/CommandError.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/Retarget.h"
#include "velmark/lib/TableSource.h"

#include <CLI/CLI.hpp>

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
};

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

// Where the result goes; refuses to overwrite anything it was not told to.
std::string chooseOutput(const Options& o) {
    if (o.inPlace) {
        refuseToOverwriteInputs(o.input, {o.table});
        return o.input;
    }
    if (o.output) {
        if (o.output->empty()) throw CommandError("-o: the output file name is empty", kExitBadUsage);
        refuseToOverwriteInputs(*o.output, {o.input, o.table},
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
    std::vector<uint8_t> bytes = readWholeFile(o.input);
    RetargetResult result;
    try {
        result = retargetImage(std::move(bytes),
                               o.undo ? RetargetDirection::ToCoredll : RetargetDirection::ToVelmark, table.table);
    } catch (const NotAnImage& e) {
        throw CommandError(o.input + ": " + e.what(), kExitUnusable);
    } catch (const RetargetRefused& e) {
        throw CommandError(o.input + ": " + e.what(), kExitCheckFailed, e.details());
    }
    if (o.inPlace) keepOriginal(o, result.file);
    if (!o.inPlace && !o.output) {
        std::error_code ec;
        const fs::path folder = fs::path(output).parent_path();
        fs::create_directories(folder, ec);
        if (ec) throw CommandError(folder.string() + ": cannot be created: " + ec.message());
    }
    writeWholeFile(output, result.file, o.input);

    for (const RenamedImport& r : result.renamed)
        std::cout << o.input << ": import descriptor " << r.descriptor << ": " << r.from << " -> " << r.to << "\n";
    if (!o.undo)
        std::cout << "all " << result.importsChecked << " COREDLL imports are exported by VELMARK.dll (checked against "
                  << table.origin << ")\n";
    if (result.checksumUpdated) std::cout << "the image checksum was recomputed\n";
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
        "Writes retargeted/APP.exe beside the input (restored/APP.exe with --undo), keeping the\n"
        "application's file name, unless -o or --in-place.\n"
        "Exit status: 0 written, 1 refused (the application does not qualify, or is already in the asked\n"
        "state), 2 bad usage (an output that is one of the inputs) or a file that cannot be used (unreadable,\n"
        "not a PE image, cannot be written).");
    sub->add_option("APP", o->input, "the application image (.exe or .dll)")->required();
    sub->add_option("--table", o->table, "export table source to check against (default: the built-in copy)");
    CLI::Option* output = sub->add_option("-o,--output", o->output, "write the result here (overwrites it)");
    sub->add_flag("--in-place", o->inPlace, "change APP itself, keeping the original as APP.bak")->excludes(output);
    sub->add_flag("--undo", o->undo, "restore the COREDLL.dll import of a retargeted application");
    return {sub, [o] { return run(*o); }, &o->input};
}

}  // namespace velmark::cli
