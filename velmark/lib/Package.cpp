#include "velmark/lib/Package.h"

#include "formats/cab/DevicePaths.h"
#include "formats/cab/InstallCabinet.h"
#include "formats/common/Printable.h"
#include "velmark/lib/AppCheck.h"
#include "velmark/lib/ApplicationRetarget.h"
#include "velmark/lib/BannerCheck.h"
#include "velmark/lib/Failure.h"
#include "velmark/lib/FileIo.h"
#include "velmark/lib/MuiCatalog.h"
#include "velmark/lib/MuiCheck.h"
#include "velmark/lib/MuiName.h"
#include "velmark/lib/SysLang.h"
#include "velmark/lib/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>

namespace velmark::cli {
namespace {

constexpr uint16_t kWindowsFolder = 1, kInstallFolder = 2;
constexpr uint16_t kDllFile = 1, kApplicationFile = 2, kBannerFile = 3, kFirstOtherFile = 4;
constexpr uint16_t kMuiKey = 1;
constexpr uint16_t kProgramsMenu = 11;  // %CE11%: \Windows\Programs, or \Windows\Start Menu\Programs
constexpr const char* kNotInFileNames = "\\/:*?\"<>|";

Failure refused(const std::string& message, std::vector<std::string> details = {}) {
    return Failure(message, FailureKind::CheckFailed, std::move(details));
}

Failure badRequest(const std::string& message) { return Failure(message, FailureKind::BadUsage); }

std::string fileNameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

std::string stemOf(const std::string& fileName) { return fileName.substr(0, fileName.rfind('.')); }

struct InstalledApplication {
    std::vector<uint8_t> bytes;
    std::vector<RoutedCopy> copies;  // installed beside it
    bool retargeted = false;         // here
};

// The application as it is installed: retargeted here, as retarget does,
// unless it already is; then the private copies beside it come along.
InstalledApplication installedApplication(const PackageRequest& r, const velmark::ExportTable& table,
                                          std::vector<std::string>& notes) {
    const SourceFile& app = r.application;
    const AppVerdict verdict = checkApplication(app.bytes, table);
    InstalledApplication result;
    std::vector<std::string> unexamined;
    switch (verdict.state) {
    case AppState::NotAnImage: throw Failure(app.path + ": " + verdict.why);
    case AppState::NotServed: throw refused(app.path + ": cannot be retargeted: " + verdict.why, verdict.details);
    case AppState::ReadyToRetarget: {
        ApplicationRetarget retargeted;
        try {
            retargeted = retargetApplication({app.path, app.bytes, r.libraries, r.dialogRoomPercent, false}, table);
        } catch (const RetargetRefused& e) {
            throw refused(app.path + ": " + e.what(), e.details());
        }
        result.bytes = std::move(retargeted.application.file);
        result.copies = std::move(retargeted.copies);
        result.retargeted = true;
        unexamined = retargeted.unexamined;
        break;
    }
    case AppState::AlreadyRetargeted: {
        if (!r.libraries.empty() || r.dialogRoomPercent)
            throw badRequest(app.path + ": already retargeted, so --library and --dialog-room come too late: give "
                             "them with the original application, or package this one with the private copies "
                             "beside it");
        const pe::Image image = pe::readImage(app.bytes);
        const ApplicationLibraries libraries = examineLibraries(image, app.path, {});
        for (const ExaminedLibrary& library : libraries.examined)
            if (library.importsVelmark()) result.copies.push_back({library.name, library.name, library.image.file, {}});
        result.bytes = app.bytes;
        unexamined = libraries.unexamined;
        break;
    }
    }
    std::string names;
    for (const std::string& name : unexamined) names += (names.empty() ? "" : ", ") + name;
    if (!names.empty() && !result.retargeted)
        notes.push_back(app.path + ": imports " + names +
                        ", not found beside it: a private copy that retarget --library wrote must lie beside "
                        "the application to be packaged, or the device cannot start it");
    else if (!names.empty() && !r.libraries.empty())
        notes.push_back(app.path + ": imports " + names +
                        ", neither given nor found beside it: a library among them that imports a routed one "
                        "must be routed too");
    return result;
}

// A language module must hold the application's resources where the
// installed application has them: one built from another build (before
// --dialog-room, say) would hand the application wrong bytes.
void checkModuleFits(const SourceFile& module, const std::vector<uint8_t>& application,
                     const std::string& applicationPath) {
    pe::Image image;
    try {
        image = pe::readImage(module.bytes);
    } catch (const pe::PeFormatError& e) {
        throw Failure("--mui " + module.path + ": not a language module: " + e.what());
    }
    const std::string why = whyNotResourceOnly(image);
    if (!why.empty())
        throw Failure("--mui " + module.path + ": not a language module: " + why +
                      "; a language module is a resource-only DLL");
    const pe::Image host = pe::readImage(application);
    const ApplicationResources resources = readApplicationResources(host, applicationPath);
    const ModuleCheck check = checkLanguageModule(host, resources, image, module.path);
    if (!check.problems.empty())
        throw refused("--mui " + module.path + ": built for another build of " + applicationPath + ": " +
                          std::to_string(check.problems.size()) +
                          " resources are not where the installed application has them (build the module from "
                          "the retargeted application, with the same --dialog-room)",
                      check.problems);
}

// The install folder as the device names it ("\Program Files\App").
std::string checkedInstallDir(const std::string& dir) {
    const std::string option = "--install-dir " + velmark::quoted(dir);
    if (dir.empty() || dir[0] != '\\')
        throw badRequest(option + ": a folder on the device starts with a backslash, e.g. \\Program Files\\App");
    for (unsigned char c : dir)
        if (c < 0x20 || c > 0x7E || (c != '\\' && std::strchr(kNotInFileNames, c)))
            throw badRequest(option + ": a device folder of printable ASCII without / : * ? \" < > |");
    const cab::Path parts = cab::folderPath(dir);
    if (parts.empty()) throw badRequest(option + ": the device's root folder is no place for an application");
    return cab::devicePath(parts);
}

// The SysLang a language module serves, from its name: "app.exe.0407.mui" gives "0407".
std::string sysLangOfModule(const SourceFile& module) {
    const std::string name = fileNameOf(module.path);
    std::string lower = name;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    size_t digits = lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".mui") == 0 ? lower.size() - 4 : 0;
    const size_t end = digits;
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(lower[digits - 1]))) --digits;
    if (digits == end || digits == 0 || lower[digits - 1] != '.')
        throw badRequest("--mui " + module.path +
                             ": the name does not end in .NUMBER.mui, the SysLang the module serves (app.exe.0407.mui)");
    return name.substr(digits, end - digits);
}

// The file VELMARK.dll itself asks for with this SysLang, found by running
// it on the emulated device.
std::string moduleOnDevice(const PackageRequest& r, const velmark::ExportTable& table, const std::string& hostPath,
                           const std::string& sysLang, std::vector<std::string>& notes) {
    const MuiNameAnswer answer =
        languageModuleNameFor(r.velmarkDll.path, table, *utf8ToUtf16(hostPath), utf8ToUtf16(sysLang));
    if (!answer.note.empty()) notes.push_back("SysLang " + velmark::quoted(sysLang) + ": " + answer.note);
    if (!answer.name) throw refused("SysLang " + velmark::quoted(sysLang) + ": no language module is loaded: " + answer.why);
    return utf16ToUtf8(*answer.name);
}

cab::InstalledFile fileIn(uint16_t folder, uint16_t id, const std::string& name, uint32_t flags = 0) {
    return {id, folder, flags, name};
}

}  // namespace

SourceFile loadSourceFile(const std::string& path) {
    SourceFile file{path, readWholeFile(path), 0};
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) file.modified = status.st_mtime;
    return file;
}

std::string installedApplicationName(const std::string& applicationFileName) {
    const size_t point = applicationFileName.rfind('.');
    if (point == std::string::npos || point == 0) return applicationFileName + "-velmark";
    return applicationFileName.substr(0, point) + "-velmark" + applicationFileName.substr(point);
}

Package makePackage(const PackageRequest& r, const velmark::ExportTable& table) {
    Package package;
    if (r.sysLang) parseSysLang(*r.sysLang);
    const InstalledApplication installedApp = installedApplication(r, table, package.notes);
    const std::vector<uint8_t>& application = installedApp.bytes;
    package.retargeted = installedApp.retargeted;
    const std::string installDir = checkedInstallDir(r.installDir);
    const std::string installed = installedApplicationName(fileNameOf(r.application.path));
    const std::string hostPath = installDir + "\\" + installed;

    cab::InstallDescriptor d;
    const std::string stem = stemOf(fileNameOf(r.application.path));
    d.appName = r.name.empty() ? stem + " (VELMARK)" : r.name;
    d.provider = r.provider.empty() ? stem : r.provider;
    if (d.appName.find_first_of(kNotInFileNames) != std::string::npos)
        throw badRequest("--name " + velmark::quoted(d.appName) + ": it names the shortcut, so none of \\ / : * ? \" < > |");
    d.processor = cab::kProcessorStrongArm;
    d.minVersion = {4, 10, 0};

    const cab::Path installPath = cab::folderPath(installDir);
    const uint16_t installFolder = installPath == cab::Path{"%CE2%"} ? kWindowsFolder : kInstallFolder;
    d.directories.push_back({kWindowsFolder, {"%CE2%"}});
    if (installFolder == kInstallFolder) d.directories.push_back({kInstallFolder, installPath});

    std::map<uint16_t, cab::FileContent> contents;
    d.files.push_back(fileIn(kWindowsFolder, kDllFile, "VELMARK.dll", cab::kFileShared));
    contents[kDllFile] = {r.velmarkDll.bytes, r.velmarkDll.modified};
    d.files.push_back(fileIn(installFolder, kApplicationFile, installed));
    contents[kApplicationFile] = {application, r.application.modified};
    if (r.banner) {
        const BannerFileVerdict verdict = checkBannerFileBytes(r.banner->bytes);
        if (!verdict.drawable) throw refused("--banner " + r.banner->path + ": the device would not draw it: " + verdict.why);
        for (const std::string& warning : verdict.warnings) package.notes.push_back(r.banner->path + ": " + warning);
        d.files.push_back(fileIn(installFolder, kBannerFile, installed.substr(0, installed.size() - 3) + "bmp"));
        contents[kBannerFile] = {r.banner->bytes, r.banner->modified};
    }

    uint16_t id = kFirstOtherFile;
    for (const RoutedCopy& copy : installedApp.copies) {
        d.files.push_back(fileIn(installFolder, id, copy.privateName));
        contents[id++] = {copy.file, r.application.modified};
        package.routedCopies.push_back(copy.privateName);
    }
    std::vector<std::string> moduleNames;
    for (const SourceFile& module : r.languageModules) {
        const std::string name = moduleOnDevice(r, table, hostPath, sysLangOfModule(module), package.notes);
        checkModuleFits(module, application, r.application.path);
        if (std::find(moduleNames.begin(), moduleNames.end(), name) != moduleNames.end())
            throw badRequest("--mui " + module.path + ": a second module for " + name);
        moduleNames.push_back(name);
        d.files.push_back(fileIn(installFolder, id, name.substr(installDir.size() + 1)));
        contents[id++] = {module.bytes, module.modified};
    }
    if (r.sysLang) {
        const std::string chosen = moduleOnDevice(r, table, hostPath, *r.sysLang, package.notes);
        if (std::find(moduleNames.begin(), moduleNames.end(), chosen) == moduleNames.end())
            throw badRequest("--syslang " + velmark::quoted(*r.sysLang) + ": VELMARK.dll would load " + chosen +
                                 ", which is none of the --mui modules");
        d.keys.push_back({kMuiKey, cab::kHiveLocalMachine, {"MUI"}});
        d.values.push_back(cab::dwordValue(1, kMuiKey, "Enable", 1));
        d.values.push_back(cab::stringValue(2, kMuiKey, "SysLang", *r.sysLang));
    }
    d.shortcuts.push_back({1, kProgramsMenu, kApplicationFile, true, {d.appName}});

    try {
        package.cabinet = cab::writeInstallCabinet(d, contents);
    } catch (const cab::UnwritableContent& e) {
        throw refused(std::string("cannot be packaged: ") + e.what());
    }
    return package;
}

}  // namespace velmark::cli
