// velmark check APP.exe [--table FILE]: writes nothing.
#include "velmark/commands/Command.h"
#include "velmark/commands/CommandError.h"
#include "velmark/lib/AppCheck.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/TableSource.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

namespace velmark::cli {
namespace {

struct Options {
    std::string input;
    std::string table;
};

int run(const Options& o) {
    LoadedTable table = loadTable(o.table);
    AppVerdict verdict = checkApplication(readWholeFile(o.input), table.table);
    if (!verdict.summary.empty()) std::cout << o.input << ": " << verdict.summary << "\n";
    switch (verdict.state) {
    case AppState::ReadyToRetarget:
        std::cout << o.input << ": ready to retarget: all " << verdict.coredllImports
                  << " COREDLL imports are exported by VELMARK.dll (checked against " << table.origin << ")\n";
        return kExitOk;
    case AppState::AlreadyRetargeted:
        std::cout << o.input << ": already retargeted: its " << verdict.coredllImports
                  << " imports come from VELMARK.dll; velmark retarget --undo restores COREDLL.dll\n";
        return kExitOk;
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
        "a bound import, imports VELMARK.dll lacks, each listed).\n"
        "Exit status: 0 ready or already retargeted, 1 cannot be retargeted, 2 bad usage or a file that\n"
        "cannot be used (unreadable, not a PE image).");
    sub->add_option("APP", o->input, "the application image (.exe or .dll)")->required();
    sub->add_option("--table", o->table, "export table source to check against (default: the built-in copy)");
    return {sub, [o] { return run(*o); }, &o->input};
}

}  // namespace velmark::cli
