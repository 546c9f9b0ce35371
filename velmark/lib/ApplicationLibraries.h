// The libraries an application imports, directly and through each other,
// as far as their files can be read: those given as NAME=FILE and those
// found beside the application (where the device's loader looks first).
// A library routed through VELMARK is one given to be routed, or a private
// copy that already imports VELMARK.dll.
#pragma once

#include "formats/pe/PeImage.h"

#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmark::cli {

struct LibraryFile {
    std::string name;  // as the application imports it, e.g. mfcce400.dll
    std::string path;
};

// "NAME=FILE"; throws Failure (bad usage) for anything else.
LibraryFile parseLibraryOption(const std::string& text);

struct ExaminedLibrary {
    std::string name;  // as first imported
    std::string path;
    bool given = false;
    pe::Image image;
    std::vector<std::string> imports;  // the libraries it imports, COREDLL and VELMARK aside

    bool importsVelmark() const;
    bool routed() const { return given || importsVelmark(); }
};

struct ApplicationLibraries {
    std::string application;              // the application's file name, for messages
    std::vector<std::string> imports;     // what the application imports, COREDLL and VELMARK aside
    std::deque<ExaminedLibrary> examined;  // in the order they were reached
    std::vector<std::string> unexamined;  // imported, but no file given or found beside it

    const ExaminedLibrary* find(std::string_view name) const;
    // Libraries not routed that import a routed one, directly or through
    // other libraries: each with the routed library it reaches.
    std::vector<std::pair<std::string, std::string>> draggedIn() const;
};

// The libraries of the image at `appPath`. Throws Failure naming the file
// when a given library cannot be read or is no PE image, or names a library
// the application does not import, directly or through its libraries.
ApplicationLibraries examineLibraries(const pe::Image& app, const std::string& appPath,
                                      const std::vector<LibraryFile>& given);

// Names that are not libraries of the application: COREDLL and VELMARK.
bool isSystemInterface(std::string_view dllName);
// A DLL name in lower case, for sets and maps that match names as the loader does.
std::string foldedDllName(std::string_view name);

}  // namespace velmark::cli
