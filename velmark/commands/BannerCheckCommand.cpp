// velmark banner-check FILE.bmp: whether the device will draw a banner file.
#include "velmark/commands/Command.h"
#include "velmark/commands/CommandError.h"
#include "velmark/lib/BannerCheck.h"
#include "velmark/lib/FileIo.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

namespace velmark::cli {
namespace {

struct Options {
    std::string file;
};

int run(const Options& o) {
    BannerFileVerdict verdict = checkBannerFileBytes(readWholeFile(o.file));
    if (!verdict.drawable)
        throw CommandError(o.file + ": will not be drawn: " + verdict.why +
                               "; the banner is then composed from the application's bitmap 284",
                           kExitCheckFailed);
    for (const std::string& warning : verdict.warnings)
        std::cerr << "velmark banner-check: " << o.file << ": warning: " << warning << "\n";
    std::cout << o.file << ": will be drawn (" << verdict.description << ")\n";
    return kExitOk;
}

}  // namespace

Command addBannerCheckCommand(CLI::App& app) {
    auto o = std::make_shared<Options>();
    CLI::App* sub = app.add_subcommand(
        "banner-check",
        "Say whether VELMARK.dll will draw a banner file, by the same check the module runs, and why not.\n"
        "Exit status: 0 drawn (warnings on stderr), 1 not drawn, 2 bad usage or a file that cannot be read.");
    sub->add_option("FILE", o->file, "the banner file (APP.bmp)")->required();
    return {sub, [o] { return run(*o); }, &o->file};
}

}  // namespace velmark::cli
