#include "velmark/lib/MuiFiles.h"

#include "formats/exporttable/EmbeddedTable.h"
#include "velmark/lib/Failure.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/MuiName.h"
#include "velmark/lib/MuiPo.h"
#include "velmark/lib/Utf8.h"

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

uint16_t languageOf(const std::string& sysLang) {
    size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(sysLang, &used, 16);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != sysLang.size() || value == 0 || value > 0xFFFF)
        throw Failure("--syslang " + sysLang + " is not a language number such as 407", FailureKind::BadUsage);
    return uint16_t(value);
}

}  // namespace

size_t extractTexts(const std::string& exePath, const std::string& potPath) {
    pe::Image host = readHost(exePath);
    ApplicationResources app = readApplicationResources(host, exePath);
    std::vector<CatalogText> texts = catalogTexts(app);
    writePot(potPath, fileNameOf(exePath), texts);
    return texts.size();
}

BuiltModule buildModule(const std::string& exePath, const std::string& poPath, const std::string& sysLang,
                        const std::optional<std::string>& outputPath, const std::string& dllPath) {
    uint16_t language = languageOf(sysLang);
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

}  // namespace velmark::cli
