#include "velmark/lib/MuiFiles.h"

#include "formats/exporttable/EmbeddedTable.h"
#include "formats/pe/PeFormat.h"
#include "velmark/lib/DialogBudget.h"
#include "velmark/lib/Failure.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/MuiName.h"
#include "velmark/lib/ModuleReach.h"
#include "velmark/lib/MuiPo.h"
#include "velmark/lib/RoomLayout.h"
#include "velmark/lib/SysLang.h"
#include "velmark/lib/TranslationMatch.h"
#include "velmark/lib/Utf8.h"

#include <algorithm>

namespace velmark::cli {
namespace {

pe::Image readHost(const std::string& path) {
    try {
        return pe::readImage(readWholeFile(path));
    } catch (const pe::PeFormatError& e) {
        throw Failure(path + ": " + e.what());
    }
}

std::string fileNameOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Every dialog's budget, in its entries' extracted comments.
void addDialogBudgets(const pe::Image& host, const ApplicationResources& app, std::vector<CatalogText>& texts) {
    for (const auto& [r, dialog] : app.dialogs) {
        const std::string comment = budgetComment(*r, dialog, placeOf(host, app.leaves, *r));
        for (CatalogText& t : texts)
            if (t.reference == "DIALOG/" + pe::describe(r->name)) t.where += "\n" + comment;
    }
}

}  // namespace

size_t extractTexts(const std::string& exePath, const std::string& potPath) {
    pe::Image host = readHost(exePath);
    ApplicationResources app = readApplicationResources(host, exePath);
    std::vector<CatalogText> texts = catalogTexts(app);
    addDialogBudgets(host, app, texts);
    refuseToOverwriteInputs(potPath, {exePath});
    writePot(potPath, fileNameOf(exePath), texts);
    return size_t(std::count_if(texts.begin(), texts.end(), [](const CatalogText& t) { return t.sharedWith.empty(); }));
}

BuiltModule buildModule(const std::string& exePath, const std::string& poPath, const std::string& sysLang,
                        const std::optional<std::string>& outputPath, const std::string& dllPath, bool strict) {
    const SysLang parsed = parseSysLang(sysLang);
    BuiltModule built;
    if (outputPath) {
        built.path = *outputPath;
    } else {
        std::optional<std::u16string> host = utf8ToUtf16(exePath), text = utf8ToUtf16(sysLang);
        MuiNameAnswer name = languageModuleNameFor(dllPath, velmark::coredllTable(), host.value_or(u""), text);
        if (!name.name) throw Failure(exePath + ": no module name: " + name.why + "; give one with -o");
        built.path = utf16ToUtf8(*name.name);
    }
    pe::Image host = readHost(exePath);
    ApplicationResources app = readApplicationResources(host, exePath);
    refuseToOverwriteInputs(built.path, {exePath, poPath, dllPath});
    MatchedTranslations matched = matchTranslations(readPo(poPath), catalogTexts(app), poPath, exePath);
    built.warnings = matched.warnings;
    built.module = buildLanguageModule(host, app, matched.use, parsed.language, exePath);
    if (strict && !built.module.overlong.empty())
        throw Failure(exePath + ": " + std::to_string(built.module.overlong.size()) +
                          " translated dialogs outgrow their places (--strict); nothing written",
                      FailureKind::CheckFailed, built.module.overlong);
    for (const std::string& overlong : built.module.overlong) built.warnings.push_back("warning: " + overlong);
    if (!app.dialogs.empty() && !hasDialogRoom(host))
        built.warnings.push_back("warning: " + exePath +
                                 " was not laid out with room: its dialogs cannot grow (velmark retarget " + exePath +
                                 " --dialog-room 100 gives them room; build against its result)");
    writeWholeFile(built.path, built.module.file);
    return built;
}

ModuleCheck checkModule(const std::string& exePath, const std::string& modulePath,
                        const std::vector<LibraryFile>& libraries) {
    pe::Image host = readHost(exePath);
    ApplicationResources app = readApplicationResources(host, exePath);
    pe::Image module = readHost(modulePath);
    std::string why = whyNotResourceOnly(module);
    if (!why.empty())
        throw Failure(modulePath + ": not a language module: " + why + "; a language module is a resource-only DLL",
                      FailureKind::BadUsage);
    ModuleCheck check = checkLanguageModule(host, app, module, modulePath);
    if (check.problems.size() * 2 > app.leaves.size())
        check.problems = {modulePath + " was built for another application, or another build of " + exePath + ": " +
                          std::to_string(check.problems.size()) + " of its " + std::to_string(app.leaves.size()) +
                          " resources are not where the module holds them (an application retargeted with "
                          "--dialog-room is another build: check the module against the file it was built from)"};
    const ApplicationLibraries examined = examineLibraries(host, exePath, libraries);
    ReachVerdict verdict = judgeReach(check, resourceReach(host, examined, velmark::coredllTable()), examined.application);
    check.lines.insert(check.lines.end(), verdict.lines.begin(), verdict.lines.end());
    check.changesNothing = verdict.changesNothing;
    return check;
}

}  // namespace velmark::cli
