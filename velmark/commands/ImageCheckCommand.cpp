// velmark inspect FILE [--table FILE]
#include "formats/common/Printable.h"
#include "formats/pe/ImageSummary.h"
#include "toolchain/imagecheck/ExceptionTableReport.h"
#include "toolchain/imagecheck/VelmarkImageCheck.h"
#include "velmark/commands/Command.h"
#include "velmark/commands/CommandError.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/TableSource.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

namespace velmark::cli {

using namespace velmark::imagecheck;
namespace {

// Enough to see the pattern of a broken build; a wholly different table
// would otherwise print thousands of lines.
constexpr size_t kMismatchesShown = 100;

struct Options {
    std::string input;
    std::string table;
};

int run(const Options& o) {
    pe::Image image;
    try {
        image = pe::readImage(readWholeFile(o.input));
    } catch (const pe::PeFormatError& e) {
        throw CommandError(o.input + ": not a readable PE image: " + e.what());
    }
    pe::writeSummary(std::cout, o.input, image);
    std::vector<std::string> tableProblems = writeExceptionTable(std::cout, image);
    if (!tableProblems.empty())
        throw CommandError(o.input + ": the exception table is wrong", kExitCheckFailed, tableProblems);
    if (!isVelmarkImage(image)) {
        std::cout << "  not VELMARK.dll (its export directory names " << quoted(image.exportDllName)
                  << "), so it is not checked against the export table\n";
        return kExitOk;
    }
    LoadedTable table = loadTable(o.table);
    VelmarkCheck check = checkVelmarkImage(image, table.table);
    if (check.mismatches.empty()) {
        std::cout << "  matches " << table.origin << ": " << check.exportsChecked << " exports, "
                  << check.importsChecked << " imports, " << check.forwardersChecked << " forwarders\n";
        return kExitOk;
    }
    std::vector<std::string> shown(check.mismatches.begin(),
                                   check.mismatches.begin() + std::min(check.mismatches.size(), kMismatchesShown));
    if (check.mismatches.size() > kMismatchesShown)
        shown.push_back("... and " + std::to_string(check.mismatches.size() - kMismatchesShown) + " more");
    const size_t count = check.mismatches.size();
    throw CommandError(o.input + ": " + std::to_string(count) + (count == 1 ? " mismatch" : " mismatches") +
                           " against " + table.origin,
                       kExitCheckFailed, shown);
}

}  // namespace

Command addInspectCommand(CLI::App& app) {
    auto o = std::make_shared<Options>();
    CLI::App* sub = app.add_subcommand(
        "inspect",
        "Report what a PE image is: machine, subsystem and version, sections, exports and imports.\n"
        "For VELMARK.dll, also check the whole export table, the import table and every forwarder\n"
        "against the export table source, naming each mismatch.\n"
        "Exit status: 0 read (and matching), 1 mismatching or a wrong exception table, 2 bad usage or a\n"
        "file that cannot be read as a PE image.");
    sub->add_option("FILE", o->input, "the image to inspect")->required();
    sub->add_option("--table", o->table, "export table source to check against (default: the built-in copy)");
    return {sub, [o] { return run(*o); }, &o->input};
}

}  // namespace velmark::cli
