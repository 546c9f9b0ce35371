// velmark package APP.exe --install-dir DIR -o FILE.cab [--banner FILE] [--mui FILE ... --syslang N]
//                 [--library NAME=FILE ...] [--dialog-room [PERCENT]]
//                 [--name TEXT] [--provider TEXT] [--dll VELMARK.dll] [--table FILE]
// velmark package --list FILE.cab
#include "formats/cab/InstallCabinet.h"
#include "velmark/commands/Command.h"
#include "velmark/commands/CommandError.h"
#include "velmark/commands/RetargetOptions.h"
#include "velmark/lib/DataFiles.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/Package.h"
#include "velmark/lib/PackageListing.h"
#include "velmark/lib/TableSource.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

namespace velmark::cli {
namespace {

struct Options {
    std::string list;
    std::string application;
    std::string installDir;
    std::string output;
    std::string banner;
    std::vector<std::string> languageModules;
    std::optional<std::string> sysLang;
    std::vector<std::string> libraries;
    DialogRoomOption dialogRoom;
    std::string name;
    std::string provider;
    std::string dll = installedDll();
    std::string table;
};

int listCabinet(const Options& o) {
    std::cout << describeInstallCabinet(readInstallCabinetFile(o.list));
    return kExitOk;
}

int make(const Options& o) {
    if (o.application.empty() || o.installDir.empty() || o.output.empty())
        throw CommandError("APP, --install-dir and -o are needed to make a package (or --list FILE.cab)", kExitBadUsage);
    const std::vector<LibraryFile> libraries = libraryFiles(o.libraries);
    std::vector<std::string> inputs = {o.application, o.dll, o.banner, o.table};
    inputs.insert(inputs.end(), o.languageModules.begin(), o.languageModules.end());
    for (const LibraryFile& library : libraries) inputs.push_back(library.path);
    refuseToOverwriteInputs(o.output, inputs, "name another CAB with -o");
    PackageRequest request;
    request.application = loadSourceFile(o.application);
    request.libraries = libraries;
    request.dialogRoomPercent = dialogRoomPercent(o.dialogRoom);
    request.velmarkDll = loadSourceFile(o.dll);
    request.installDir = o.installDir;
    if (!o.banner.empty()) request.banner = loadSourceFile(o.banner);
    for (const std::string& module : o.languageModules) request.languageModules.push_back(loadSourceFile(module));
    request.sysLang = o.sysLang;
    request.name = o.name;
    request.provider = o.provider;
    const LoadedTable table = loadTable(o.table);
    const Package package = makePackage(request, table.table);
    writeWholeFile(o.output, package.cabinet);
    for (const std::string& note : package.notes) std::cerr << "velmark package: note: " << note << "\n";
    if (package.retargeted) std::cout << o.application << ": retargeted to import VELMARK.dll for the package\n";
    for (const std::string& copy : package.routedCopies)
        std::cout << copy << ": a library routed through VELMARK, installed beside the application\n";
    // Read back from memory: the output may be a device such as /dev/null.
    std::cout << describeInstallCabinet(cab::readInstallCabinet(package.cabinet.data(), package.cabinet.size()));
    std::cout << "wrote " << o.output << "\n";
    return kExitOk;
}

}  // namespace

Command addPackageCommand(CLI::App& app) {
    auto o = std::make_shared<Options>();
    CLI::App* sub = app.add_subcommand(
        "package",
        "Make a Windows CE installation CAB that installs APP with VELMARK: VELMARK.dll into \\Windows\n"
        "(shared with other packages), and into the install folder APP retargeted as APP-velmark.exe\n"
        "beside the original, which is never touched, the private copies of the libraries routed\n"
        "through VELMARK, its banner file and language modules named after it, a shortcut in the\n"
        "programs menu, and with --mui the registry values HKEY_LOCAL_MACHINE\\MUI Enable = 1 and\n"
        "SysLang. APP not yet retargeted is retargeted as retarget does (--library, --dialog-room);\n"
        "one already retargeted brings the private copies beside it. Open the CAB on the device to\n"
        "install; Remove Programs takes it off. --list prints what any Windows CE installation CAB\n"
        "installs.\n"
        "Exit status: 0 written or listed, 1 refused (APP cannot be retargeted, a banner file the device\n"
        "would not draw, a language module built for another build of APP), 2 bad usage or a file that\n"
        "cannot be used (unreadable, no installation CAB).");
    CLI::Option* list = sub->add_option("--list", o->list, "print what this installation CAB installs");
    sub->add_option("APP", o->application, "the application (.exe), retargeted or not")->excludes(list);
    sub->add_option("--install-dir", o->installDir, "the application's folder on the device, e.g. '\\Program Files\\App'")
        ->excludes(list);
    sub->add_option("-o,--output", o->output, "the CAB to write (overwrites it)")->excludes(list);
    sub->add_option("--banner", o->banner, "the banner file, installed as APP-velmark.bmp")->excludes(list);
    CLI::Option* mui = sub->add_option("--mui", o->languageModules,
                                       "a language module named ...NUMBER.mui (repeatable), installed as "
                                       "APP-velmark.exe.NUMBER.mui")
                           ->excludes(list);
    CLI::Option* sysLang =
        sub->add_option("--syslang", o->sysLang, "the SysLang written to the registry (decimal digits): one --mui module's number");
    mui->needs(sysLang);
    sysLang->needs(mui);
    addLibraryOption(*sub, o->libraries, "a library of APP to route through VELMARK, as retarget does")
        ->excludes(list);
    addDialogRoomOption(*sub, o->dialogRoom)->excludes(list);
    sub->add_option("--name", o->name, "the package's name, also the shortcut's (default: \"APP (VELMARK)\")")->excludes(list);
    sub->add_option("--provider", o->provider, "the package's provider (default: APP's name)")->excludes(list);
    sub->add_option("--dll", o->dll, "the VELMARK.dll to install")->capture_default_str()->excludes(list);
    sub->add_option("--table", o->table, "export table source to check APP against (default: the built-in copy)")
        ->excludes(list);
    return {sub, [o] { return o->list.empty() ? make(*o) : listCabinet(*o); }, &o->application};
}

}  // namespace velmark::cli
