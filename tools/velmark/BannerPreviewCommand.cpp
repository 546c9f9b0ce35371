// velmark banner-preview [--exe-bitmap BMP] [--banner-file BMP] [--dll VELMARK.dll] -o OUT.png
#include "BannerPreview.h"
#include "Command.h"
#include "CommandError.h"
#include "FileIo.h"
#include "TableSource.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

namespace velmark::cli {
namespace {

struct Options {
    std::string exeBitmap;
    std::string bannerFile;
    std::string dll = VELMARK_BUILT_DLL;
    std::string output;
    std::string table;
};

int run(const Options& o) {
    BannerScene scene;
    scene.dllPath = o.dll;
    if (!o.exeBitmap.empty()) scene.hostBitmap = readPicture(o.exeBitmap);
    // Handed to the module byte for byte: whether it can draw it is its call.
    if (!o.bannerFile.empty()) scene.bannerFile = readWholeFile(o.bannerFile);
    LoadedTable table = loadTable(o.table);
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
        "application's own bitmap 284, and its answer is written as PNG.\n"
        "Exit status: 0 written, 1 failed, 2 bad usage.");
    sub->add_option("--exe-bitmap", o->exeBitmap, "the application's bitmap resource 284, as a picture file (BMP)")
        ->check(CLI::ExistingFile);
    sub->add_option("--banner-file", o->bannerFile, "the banner file that goes beside the application (APP.bmp)")
        ->check(CLI::ExistingFile);
    sub->add_option("--dll", o->dll, "the VELMARK.dll to run")->capture_default_str();
    sub->add_option("-o,--output", o->output, "the PNG to write")->required();
    sub->add_option("--table", o->table, "export table source for the fake COREDLL (default: the built-in copy)");
    return {sub, [o] { return run(*o); }};
}

}  // namespace velmark::cli
