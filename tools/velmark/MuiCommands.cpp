// velmark mui extract APP.exe -o app.pot
// velmark mui build APP.exe LANG.po --syslang 407 [-o FILE]
// velmark mui check APP.exe MODULE.mui
#include "MuiCommands.h"

#include "Command.h"
#include "CommandError.h"
#include "FileIo.h"
#include "MuiName.h"
#include "MuiPo.h"
#include "Utf8.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

namespace velmark::cli {
namespace {

pe::Image readHost(const std::string& path) {
    try {
        return pe::readImage(readWholeFile(path));
    } catch (const pe::PeFormatError& e) {
        throw CommandError(path + ": " + e.what());
    }
}

std::string fileNameOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

uint16_t languageOf(const std::string& sysLang) {
    size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(sysLang, &used, 16);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != sysLang.size() || value == 0 || value > 0xFFFF)
        throw CommandError("--syslang " + sysLang + " is not a language number such as 407", kExitBadUsage);
    return uint16_t(value);
}

struct Options {
    std::string exe, po, pot, module, sysLang;
    std::optional<std::string> output;
};

}  // namespace

size_t extractTexts(const std::string& exePath, const std::string& potPath) {
    pe::Image host = readHost(exePath);
    ApplicationResources app = readApplicationResources(host, exePath);
    std::vector<CatalogText> texts = catalogTexts(app);
    writePot(potPath, fileNameOf(exePath), texts);
    return texts.size();
}

BuiltModule buildModule(const std::string& exePath, const std::string& poPath, const std::string& sysLang,
                        const std::optional<std::string>& outputPath) {
    uint16_t language = languageOf(sysLang);
    BuiltModule built;
    if (outputPath) {
        built.path = *outputPath;
    } else {
        std::optional<std::u16string> host = utf8ToUtf16(exePath), text = utf8ToUtf16(sysLang);
        MuiNameAnswer name = languageModuleNameFor(host.value_or(u""), text);
        if (!name.name) throw CommandError(exePath + ": no module name: " + name.why + "; give one with -o");
        built.path = utf16ToUtf8(*name.name);
    }
    pe::Image host = readHost(exePath);
    ApplicationResources app = readApplicationResources(host, exePath);
    Translations translations = readPo(poPath);
    built.module = buildLanguageModule(host, app, translations, language, exePath);
    writeWholeFile(built.path, built.module.file);
    return built;
}

ModuleCheck checkModule(const std::string& exePath, const std::string& modulePath) {
    pe::Image host = readHost(exePath);
    ApplicationResources app = readApplicationResources(host, exePath);
    pe::Image module = readHost(modulePath);
    return checkLanguageModule(host, app, module, modulePath);
}

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
            BuiltModule built = buildModule(o->exe, o->po, o->sysLang, o->output);
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
