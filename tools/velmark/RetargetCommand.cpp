// velmark retarget APP.exe [-o OUT | --in-place] [--undo] [--table FILE]
#include "Command.h"
#include "CommandError.h"
#include "FileIo.h"
#include "Retarget.h"
#include "TableSource.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <memory>

namespace fs = std::filesystem;

namespace velmark::cli {
namespace {

struct Options {
    std::string input;
    std::string output;
    std::string table;
    bool inPlace = false;
    bool undo = false;
};

// APP.exe -> APP.velmark.exe (or APP.coredll.exe when undoing), beside the input.
std::string defaultOutput(const std::string& input, bool undo) {
    fs::path path(input);
    fs::path name = path.stem();
    name += undo ? ".coredll" : ".velmark";
    name += path.extension();
    return (path.parent_path() / name).string();
}

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

// Where the result goes; refuses to overwrite anything it was not told to.
std::string chooseOutput(const Options& o) {
    if (o.inPlace) return o.input;
    if (!o.output.empty()) {
        if (sameFile(o.output, o.input))
            throw CommandError(o.output + ": is the input itself; use --in-place to change it (a backup is kept)",
                               kExitBadUsage);
        return o.output;
    }
    std::string output = defaultOutput(o.input, o.undo);
    std::error_code ec;
    if (fs::exists(output, ec))
        throw CommandError(output + ": already exists; name the output with -o to overwrite it");
    return output;
}

int run(const Options& o) {
    std::vector<uint8_t> bytes = readWholeFile(o.input);
    LoadedTable table = loadTable(o.table);
    RetargetResult result;
    try {
        result = retargetImage(std::move(bytes),
                               o.undo ? RetargetDirection::ToCoredll : RetargetDirection::ToVelmark, table.table);
    } catch (const RetargetRefused& e) {
        throw CommandError(o.input + ": " + e.what(), kExitCheckFailed, e.details());
    }
    const std::string output = chooseOutput(o);
    if (o.inPlace) {
        makeBackup(o.input, o.input + ".bak");
        std::cout << "kept the original as " << o.input << ".bak\n";
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
        "Writes APP.velmark.exe beside the input (APP.coredll.exe with --undo) unless -o or --in-place.\n"
        "Exit status: 0 written, 1 refused or failed, 2 bad usage.");
    sub->add_option("APP", o->input, "the application image (.exe or .dll)")->required();
    CLI::Option* output = sub->add_option("-o,--output", o->output, "write the result here (overwrites it)");
    sub->add_flag("--in-place", o->inPlace, "change APP itself, keeping the original as APP.bak")->excludes(output);
    sub->add_flag("--undo", o->undo, "restore the COREDLL.dll import of a retargeted application");
    sub->add_option("--table", o->table, "export table source to check against (default: the built-in copy)");
    return {sub, [o] { return run(*o); }};
}

}  // namespace velmark::cli
