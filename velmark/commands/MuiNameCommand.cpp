// velmark mui-name --exe PATH [--syslang TEXT] [--dll VELMARK.dll]
#include "velmark/commands/Command.h"
#include "velmark/commands/CommandError.h"
#include "velmark/lib/DataFiles.h"
#include "velmark/lib/MuiName.h"
#include "velmark/lib/TableSource.h"
#include "velmark/lib/Utf8.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

namespace velmark::cli {
namespace {

struct Options {
    std::string exe;
    std::optional<std::string> sysLang;
    std::string dll = installedDll();
    std::string table;
};

std::u16string toUtf16(const std::string& text, const char* what) {
    std::optional<std::u16string> converted = utf8ToUtf16(text);
    if (!converted) throw CommandError(std::string(what) + " is not valid UTF-8", kExitBadUsage);
    return *converted;
}

int run(const Options& o) {
    std::optional<std::u16string> sysLang;
    if (o.sysLang) sysLang = toUtf16(*o.sysLang, "--syslang");
    std::u16string exe = toUtf16(o.exe, "--exe");
    LoadedTable table = loadTable(o.table);
    MuiNameAnswer answer = languageModuleNameFor(o.dll, table.table, exe, sysLang);
    if (!answer.note.empty()) std::cerr << "velmark mui-name: note: " << answer.note << "\n";
    if (!answer.name) {
        std::cerr << "velmark mui-name: none: " << answer.why << "\n";
        return kExitCheckFailed;
    }
    std::cout << utf16ToUtf8(*answer.name) << "\n";
    return kExitOk;
}

}  // namespace

Command addMuiNameCommand(CLI::App& app) {
    auto o = std::make_shared<Options>();
    CLI::App* sub = app.add_subcommand(
        "mui-name",
        "Print the language-module file VELMARK loads for a host executable, when the registry key\n"
        "HKEY_LOCAL_MACHINE\\MUI has Enable = 1: the executable's full path, a point, the SysLang number\n"
        "with at least four digits, and \".mui\". Says \"none: REASON\" on stderr when no module would be loaded.\n"
        "The answer comes from the real VELMARK.dll choosing on the emulated ARM device.\n"
        "Exit status: 0 a name, 1 none, 2 bad usage or a VELMARK.dll that cannot be run.");
    sub->add_option("--exe", o->exe, "the host executable's full path on the device, e.g. \\Windows\\app.exe")
        ->required();
    sub->add_option("--syslang", o->sysLang,
                    "the SysLang registry text (read like _wtol: \"40C\" is 40); leave out when the value is absent");
    sub->add_option("--dll", o->dll, "the VELMARK.dll to run")->capture_default_str();
    sub->add_option("--table", o->table, "export table source for the fake COREDLL (default: the built-in copy)");
    return {sub, [o] { return run(*o); }, &o->exe};
}

}  // namespace velmark::cli
