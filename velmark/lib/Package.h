// A Windows CE installation CAB that puts an application on a device with
// VELMARK: VELMARK.dll into \Windows (shared by every package that installs
// it), and into the install folder the application retargeted, its banner
// file and its language modules, with HKEY_LOCAL_MACHINE\MUI switched on to
// one of those modules. Packages are marked for ARM processors and Windows CE
// 4.10 or later.
//
// The application the user has is never touched: the retargeted copy is
// installed beside it as APP-velmark.exe (its banner file and language
// modules named after that), with the private copies of the libraries routed
// through VELMARK and a shortcut in the programs menu. Removing the package
// takes off that copy and leaves the original working as before.
#pragma once

#include "formats/exporttable/ExportTable.h"
#include "velmark/lib/ApplicationLibraries.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmark::cli {

// A file from the PC: its path (named in messages), bytes and time.
struct SourceFile {
    std::string path;
    std::vector<uint8_t> bytes;
    int64_t modified = 0;  // seconds since 1970
};

// Throws Failure when the file cannot be read.
SourceFile loadSourceFile(const std::string& path);

struct PackageRequest {
    SourceFile application;  // retargeted here unless it already is
    // As retarget takes them, for an application not yet retargeted; an
    // application already retargeted brings the private copies beside it.
    std::vector<LibraryFile> libraries;
    std::optional<unsigned> dialogRoomPercent;
    SourceFile velmarkDll;   // also run on the emulated device to name the language modules
    std::string installDir;  // on the device, e.g. \Program Files\App
    std::optional<SourceFile> banner;
    std::vector<SourceFile> languageModules;  // each named ...NUMBER.mui, the SysLang it serves
    std::optional<std::string> sysLang;       // the SysLang switched on: one of the modules'
    std::string name;                         // empty: "APP (VELMARK)"
    std::string provider;                     // empty: APP
};

struct Package {
    std::vector<uint8_t> cabinet;
    bool retargeted = false;               // the application was retargeted here
    std::vector<std::string> routedCopies;  // the private library copies installed beside it
    std::vector<std::string> notes;  // what the user may not expect (a banner drawn upside down)
};

// "app-velmark.exe" for "app.exe": the name the retargeted copy is installed under.
std::string installedApplicationName(const std::string& applicationFileName);

// Throws Failure naming the file or option and the reason when the request
// cannot be packaged: CheckFailed for an application that cannot be
// retargeted (its details list e.g. each import VELMARK lacks), a banner file
// the device would not draw or a language module built for another build of
// the application; BadUsage for options that contradict each other.
Package makePackage(const PackageRequest& request, const velmark::ExportTable& table);

}  // namespace velmark::cli
