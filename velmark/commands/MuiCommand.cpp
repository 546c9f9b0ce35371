// velmark mui extract APP.exe -o app.pot
// velmark mui build APP.exe LANG.po --syslang 407 [-o FILE] [--dll VELMARK.dll]
// velmark mui check APP.exe MODULE.mui
#include "velmark/commands/Command.h"
#include "velmark/commands/CommandError.h"
#include "velmark/lib/DataFiles.h"
#include "velmark/lib/MuiFiles.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

namespace velmark::cli {
namespace {

struct Options {
    std::string exe, po, pot, module, sysLang;
    std::optional<std::string> output;
    std::string dll = installedDll();
};

}  // namespace

Command addMuiCommand(CLI::App& app) {
    auto o = std::make_shared<Options>();
    CLI::App* mui = app.add_subcommand(
        "mui", "Language modules for translators: extract an application's texts to a PO template, build a\n"
               "language module from a translation, check what a module translates.");
    mui->require_subcommand(1);
    CLI::App* extract = mui->add_subcommand(
        "extract", "Write every string, menu item and dialog text of APP.exe as a PO template (msgctxt names\n"
                   "its place). Exit status: 0 written, 1 unusable file, 2 bad usage.");
    extract->add_option("exe", o->exe, "the application")->required();
    extract->add_option("-o,--output", o->pot, "the template to write, e.g. app.pot")->required();
    CLI::App* build = mui->add_subcommand(
        "build", "Build the language module of APP.exe from a translated PO file: a resource-only CE DLL that\n"
                 "keeps the host's resources at the host's offsets. Untranslated (empty or fuzzy) strings stay\n"
                 "empty, so the host's text is used. Exit status: 0 written, 1 unusable file, 2 bad usage.");
    build->add_option("exe", o->exe, "the application")->required();
    build->add_option("po", o->po, "the translation")->required();
    build->add_option("--syslang", o->sysLang, "the SysLang registry text the module is for, e.g. 407")->required();
    build->add_option("-o,--output", o->output, "the module to write (default: by the name rule, APP.exe.0407.mui)");
    build->add_option("--dll", o->dll, "the VELMARK.dll whose name rule names the module")->capture_default_str();
    CLI::App* check = mui->add_subcommand(
        "check", "Report which strings, menus and dialogs MODULE translates, which come from the host, and any\n"
                 "host resource LoadResource can reach that MODULE does not hold at the host's offset.\n"
                 "Exit status: 0 sound, 1 resources missing at their offsets or an unusable file, 2 bad usage.");
    check->add_option("exe", o->exe, "the application")->required();
    check->add_option("module", o->module, "the language module")->required();

    return {mui, [o, extract, build, check]() -> int {
        if (extract->parsed()) {
            size_t count = extractTexts(o->exe, o->pot);
            std::cout << o->pot << ": " << count << " texts\n";
            return kExitOk;
        }
        if (build->parsed()) {
            BuiltModule built = buildModule(o->exe, o->po, o->sysLang, o->output, o->dll);
            const LanguageModule& m = built.module;
            std::cout << built.path << ": " << m.stringsTranslated << " of " << m.strings << " strings, "
                      << m.menusTranslated << " menus and " << m.dialogsTranslated << " dialogs translated\n";
            return kExitOk;
        }
        ModuleCheck result = checkModule(o->exe, o->module);
        for (const std::string& line : result.lines) std::cout << line << "\n";
        for (const std::string& problem : result.problems) std::cout << "  " << problem << "\n";
        return result.problems.empty() ? kExitOk : kExitCheckFailed;
    }};
}

}  // namespace velmark::cli
