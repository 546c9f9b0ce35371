// velmark banner-preview [--exe APP.exe | --exe-bitmap BMP] [--banner-file BMP] [--dll VELMARK.dll] -o OUT.png
#include "velmark/commands/Command.h"
#include "velmark/commands/CommandError.h"
#include "velmark/lib/BannerCheck.h"
#include "velmark/lib/BannerPreview.h"
#include "velmark/lib/DataFiles.h"
#include "velmark/lib/ExeBitmap.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/TableSource.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <memory>

namespace fs = std::filesystem;

namespace velmark::cli {
namespace {

struct Options {
    std::string exe;
    std::string exeBitmap;
    std::string bannerFile;
    std::string dll = installedDll();
    std::string output;
    std::string table;
};

// The module image must be a readable file; the emulator's own messages
// would not name it.
void requireReadableFile(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) throw CommandError(path + ": cannot be used as --dll: it is a directory");
    if (!fs::exists(path, ec)) throw CommandError(path + ": cannot be used as --dll: no such file");
}

int run(const Options& o) {
    if (o.output.empty()) throw CommandError("-o: the output file name is empty", kExitBadUsage);
    requireReadableFile(o.dll);
    refuseToOverwriteInputs(o.output, {o.exe, o.exeBitmap, o.bannerFile, o.dll, o.table});
    LoadedTable table = loadTable(o.table);
    BannerScene scene;
    scene.dllPath = o.dll;
    if (!o.exe.empty()) scene.hostBitmap = bitmap284Of(o.exe);
    if (!o.exeBitmap.empty()) scene.hostBitmap = readPicture(o.exeBitmap);
    if (!o.bannerFile.empty()) {
        // Handed to the module byte for byte; the same check it runs says
        // beforehand whether it will be drawn.
        scene.bannerFile = readWholeFile(o.bannerFile);
        BannerFileVerdict verdict = checkBannerFileBytes(*scene.bannerFile);
        if (!verdict.drawable)
            std::cerr << "velmark banner-preview: " << o.bannerFile << ": will not be drawn: " << verdict.why << "\n";
        for (const std::string& warning : verdict.warnings)
            std::cerr << "velmark banner-preview: " << o.bannerFile << ": warning: " << warning << "\n";
    }
    BannerPreview preview = previewBanner(scene, table.table);
    writePng(o.output, preview.banner);
    std::cout << preview.howDrawn << "\nwrote " << o.output << " (" << preview.banner.width << " x "
              << preview.banner.height << ")\n";
    return kExitOk;
}

}  // namespace

Command addBannerPreviewCommand(CLI::App& app) {
    auto o = std::make_shared<Options>();
    CLI::App* sub = app.add_subcommand(
        "banner-preview",
        "Show on the PC the 800 x 407 banner the device will show for bitmap 284: the real VELMARK.dll\n"
        "runs on the emulated ARM device, with the banner file beside the application and/or the\n"
        "application's own bitmap 284, and its answer is written as PNG. A banner file that will not\n"
        "be drawn is reported, with the reason, on stderr.\n"
        "Exit status: 0 written, 2 bad usage or a file that cannot be used (read, run or written).");
    CLI::Option* exe =
        sub->add_option("--exe", o->exe, "the application: its bitmap resource 284 is taken from it");
    sub->add_option("--exe-bitmap", o->exeBitmap, "the application's bitmap resource 284, as a picture file (BMP)")
        ->excludes(exe);
    sub->add_option("--banner-file", o->bannerFile, "the banner file that goes beside the application (APP.bmp)");
    sub->add_option("--dll", o->dll, "the VELMARK.dll to run")->capture_default_str();
    sub->add_option("-o,--output", o->output, "the PNG to write")->required();
    sub->add_option("--table", o->table, "export table source for the fake COREDLL (default: the built-in copy)");
    return {sub, [o] { return run(*o); }, &o->output};
}

}  // namespace velmark::cli
