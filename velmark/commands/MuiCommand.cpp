// velmark mui extract APP.exe -o app.pot
// velmark mui build APP.exe LANG.po --syslang 407 [-o FILE] [--dll VELMARK.dll]
// velmark mui check APP.exe MODULE.mui [--library NAME=FILE ...]
#include "velmark/commands/Command.h"
#include "velmark/commands/CommandError.h"
#include "velmark/commands/RetargetOptions.h"
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
    bool strict = false;
    std::vector<std::string> libraries;
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
                   "its place; a text holding printf directives is marked c-format, so that msgfmt -c checks\n"
                   "them). Exit status: 0 written, 2 bad usage or a file that cannot be used.");
    extract->add_option("exe", o->exe, "the application")->required();
    extract->add_option("-o,--output", o->pot, "the template to write, e.g. app.pot")->required();
    CLI::App* build = mui->add_subcommand(
        "build", "Build the language module of APP.exe from a translated PO file (any charset its header\n"
                 "names): a resource-only CE DLL that keeps the host's resources at the host's offsets.\n"
                 "An entry is used when its msgctxt names a place of APP.exe and its msgid is that place's\n"
                 "text; stale and unknown entries, and translations whose printf directives differ from the\n"
                 "source's, are reported and left out. Untranslated (empty or fuzzy) strings stay empty, so\n"
                 "the host's text is used. A dialog whose translation outgrows its place stays untranslated,\n"
                 "with a warning naming its entries and how many characters to cut.\n"
                 "Exit status: 0 written, 1 the PO file translates nothing of APP.exe, or an overlong dialog\n"
                 "with --strict (nothing written), 2 bad usage or a file that cannot be used.");
    build->add_option("exe", o->exe, "the application")->required();
    build->add_option("po", o->po, "the translation")->required();
    build->add_option("--syslang", o->sysLang,
                      "the device's SysLang registry value the module is for: decimal digits, e.g. 407 (the\n"
                      "module's resources take the language with those hexadecimal digits, 0x0407)")
        ->required();
    build->add_option("-o,--output", o->output, "the module to write (default: by the name rule, APP.exe.0407.mui)");
    build->add_option("--dll", o->dll, "the VELMARK.dll whose name rule names the module")->capture_default_str();
    build->add_flag("--strict", o->strict, "an overlong dialog is an error: nothing is written");
    CLI::App* check = mui->add_subcommand(
        "check", "Report which strings, menus and dialogs MODULE translates, which come from the host, any\n"
                 "host resource LoadResource can reach that MODULE does not hold at the host's offset, and which\n"
                 "translations the application's requests reach through VELMARK (its own imports as once\n"
                 "retargeted; its libraries beside it or given, those given as routed).\n"
                 "Exit status: 0 sound, 1 resources missing at their offsets or a module that changes nothing\n"
                 "the application shows, 2 bad usage or a file that cannot be used (unreadable, no language\n"
                 "module).");
    check->add_option("exe", o->exe, "the application")->required();
    check->add_option("module", o->module, "the language module")->required();
    addLibraryOption(*check, o->libraries, "a library of the application, judged as routed through VELMARK");

    return {mui, [o, extract, build, check]() -> int {
        if (extract->parsed()) {
            size_t count = extractTexts(o->exe, o->pot);
            std::cout << o->pot << ": " << count << " texts\n";
            return kExitOk;
        }
        if (build->parsed()) {
            BuiltModule built = buildModule(o->exe, o->po, o->sysLang, o->output, o->dll, o->strict);
            for (const std::string& warning : built.warnings) std::cerr << "velmark mui build: " << warning << "\n";
            const LanguageModule& m = built.module;
            std::cout << built.path << ": " << m.stringsTranslated << " of " << m.strings << " strings, "
                      << m.menusTranslated << " menus and " << m.dialogsTranslated << " dialogs translated\n";
            return kExitOk;
        }
        ModuleCheck result = checkModule(o->exe, o->module, libraryFiles(o->libraries));
        for (const std::string& line : result.lines) std::cout << line << "\n";
        for (const std::string& problem : result.problems) std::cout << "  " << problem << "\n";
        return result.problems.empty() && !result.changesNothing ? kExitOk : kExitCheckFailed;
    }};
}

}  // namespace velmark::cli
