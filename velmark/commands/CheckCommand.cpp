// velmark check APP.exe [--table FILE] [--library NAME=FILE ...]: writes nothing.
#include "velmark/commands/Command.h"
#include "velmark/commands/CommandError.h"
#include "velmark/commands/RetargetOptions.h"
#include "velmark/lib/AppCheck.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/LibraryRouting.h"
#include "velmark/lib/ResourceReach.h"
#include "velmark/lib/TableSource.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

namespace velmark::cli {
namespace {

struct Options {
    std::string input;
    std::string table;
    std::vector<std::string> libraries;
};

// The libraries given, and which of the application's requests for its
// strings, menus and dialogs reach VELMARK; false when a library given
// cannot be routed.
bool reportLibrariesAndReach(const Options& o, const LoadedTable& table) {
    const pe::Image app = pe::readImage(readWholeFile(o.input));
    const ApplicationLibraries libraries = examineLibraries(app, o.input, libraryFiles(o.libraries));
    const LibraryVerdict verdict = checkLibraries(libraries, table.table);
    for (const std::string& line : verdict.lines) std::cout << line << "\n";
    for (const std::string& line : describeReach(resourceReach(app, libraries, table.table), libraries.application))
        std::cout << line << "\n";
    return verdict.routable;
}

int run(const Options& o) {
    LoadedTable table = loadTable(o.table);
    libraryFiles(o.libraries);  // bad usage before anything is said
    AppVerdict verdict = checkApplication(readWholeFile(o.input), table.table);
    if (!verdict.summary.empty()) std::cout << o.input << ": " << verdict.summary << "\n";
    switch (verdict.state) {
    case AppState::ReadyToRetarget:
        std::cout << o.input << ": ready to retarget: all " << verdict.coredllImports
                  << " COREDLL imports are exported by VELMARK.dll (checked against " << table.origin << ")\n";
        return reportLibrariesAndReach(o, table) ? kExitOk : kExitCheckFailed;
    case AppState::AlreadyRetargeted:
        std::cout << o.input << ": already retargeted: its " << verdict.coredllImports
                  << " imports come from VELMARK.dll; velmark retarget --undo restores COREDLL.dll\n";
        return reportLibrariesAndReach(o, table) ? kExitOk : kExitCheckFailed;
    case AppState::NotServed: break;
    case AppState::NotAnImage: throw CommandError(o.input + ": " + verdict.why, kExitUnusable);
    }
    throw CommandError(o.input + ": cannot be retargeted: " + verdict.why, kExitCheckFailed, verdict.details);
}

}  // namespace

Command addCheckCommand(CLI::App& app) {
    auto o = std::make_shared<Options>();
    CLI::App* sub = app.add_subcommand(
        "check",
        "Say, writing nothing, whether an application can use VELMARK.dll: ready to retarget,\n"
        "already retargeted, or why not (not a Windows CE ARM or ARMV4I application, no COREDLL import,\n"
        "a bound import, imports VELMARK.dll lacks, each listed); then whether each library given can be\n"
        "routed through VELMARK and which others it drags in, and whether the application's requests for\n"
        "its strings, menus and dialogs reach VELMARK (and so a language module).\n"
        "Exit status: 0 ready or already retargeted, 1 cannot be retargeted (or a library given cannot be\n"
        "routed), 2 bad usage or a file that cannot be used (unreadable, not a PE image).");
    sub->add_option("APP", o->input, "the application image (.exe or .dll)")->required();
    sub->add_option("--table", o->table, "export table source to check against (default: the built-in copy)");
    addLibraryOption(*sub, o->libraries, "a library of the application to route through VELMARK");
    return {sub, [o] { return run(*o); }, &o->input};
}

}  // namespace velmark::cli
