#include "velmark/lib/ApplicationLibraries.h"

#include "formats/common/DllNames.h"
#include "formats/common/Printable.h"
#include "velmark/lib/Failure.h"
#include "velmark/lib/FileIo.h"

#include <filesystem>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace velmark::cli {
namespace {

std::vector<std::string> librariesImportedBy(const pe::Image& image) {
    std::vector<std::string> out;
    for (const pe::ImportedLibrary& library : image.imports)
        if (!isSystemInterface(library.dllName)) out.emplace_back(library.dllName);
    return out;
}

// The files beside the application by folded name: the device's file
// system does not tell letter cases apart.
std::map<std::string, std::string> filesBeside(const std::string& appPath) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    fs::path folder = fs::path(appPath).parent_path();
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.empty() ? "." : folder, ec))
        if (entry.is_regular_file(ec)) out.emplace(foldedDllName(entry.path().filename().string()), entry.path().string());
    return out;
}

}  // namespace

std::string foldedDllName(std::string_view name) {
    std::string out(name);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool isSystemInterface(std::string_view dllName) {
    return velmark::sameDllName(dllName, velmark::kCoredllDllName) ||
           velmark::sameDllName(dllName, velmark::kVelmarkDllName);
}

LibraryFile parseLibraryOption(const std::string& text) {
    size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
        throw Failure("--library " + text + ": give the imported name and the file, as NAME=FILE "
                      "(e.g. mfcce400.dll=lib/mfcce400.dll)", FailureKind::BadUsage);
    return {text.substr(0, equals), text.substr(equals + 1)};
}

bool ExaminedLibrary::importsVelmark() const {
    for (const pe::ImportedLibrary& library : image.imports)
        if (velmark::sameDllName(library.dllName, velmark::kVelmarkDllName)) return true;
    return false;
}

const ExaminedLibrary* ApplicationLibraries::find(std::string_view name) const {
    for (const ExaminedLibrary& library : examined)
        if (velmark::sameDllName(library.name, name)) return &library;
    return nullptr;
}

std::vector<std::pair<std::string, std::string>> ApplicationLibraries::draggedIn() const {
    std::map<std::string, std::string> reaches;  // folded name -> the routed library it reaches
    for (const ExaminedLibrary& library : examined)
        if (library.routed()) reaches[foldedDllName(library.name)] = library.name;
    std::vector<std::pair<std::string, std::string>> out;
    for (bool grew = true; grew;) {
        grew = false;
        for (const ExaminedLibrary& library : examined) {
            if (reaches.count(foldedDllName(library.name))) continue;
            for (const std::string& imported : library.imports) {
                auto it = reaches.find(foldedDllName(imported));
                if (it == reaches.end()) continue;
                reaches[foldedDllName(library.name)] = it->second;
                out.push_back({library.name, it->second});
                grew = true;
                break;
            }
        }
    }
    return out;
}

ApplicationLibraries examineLibraries(const pe::Image& app, const std::string& appPath,
                                      const std::vector<LibraryFile>& given) {
    ApplicationLibraries out;
    out.application = fs::path(appPath).filename().string();
    out.imports = librariesImportedBy(app);
    std::map<std::string, const LibraryFile*> givenByName;
    for (const LibraryFile& file : given) givenByName[foldedDllName(file.name)] = &file;
    const std::map<std::string, std::string> beside = filesBeside(appPath);

    std::set<std::string> seen;
    std::deque<std::string> pending(out.imports.begin(), out.imports.end());
    while (!pending.empty()) {
        std::string name = pending.front();
        pending.pop_front();
        if (!seen.insert(foldedDllName(name)).second) continue;
        auto file = givenByName.find(foldedDllName(name));
        auto found = beside.find(foldedDllName(name));
        if (file == givenByName.end() && found == beside.end()) {
            out.unexamined.push_back(name);
            continue;
        }
        ExaminedLibrary library;
        library.name = name;
        library.given = file != givenByName.end();
        library.path = library.given ? file->second->path : found->second;
        try {
            library.image = pe::readImage(readWholeFile(library.path));
        } catch (const pe::PeFormatError& e) {
            if (!library.given) {
                out.unexamined.push_back(name);
                continue;
            }
            throw Failure(library.path + ": not a PE image: " + e.what(), FailureKind::CheckFailed);
        }
        library.imports = librariesImportedBy(library.image);
        pending.insert(pending.end(), library.imports.begin(), library.imports.end());
        out.examined.push_back(std::move(library));
    }
    for (const LibraryFile& file : given)
        if (!out.find(file.name))
            throw Failure("--library " + file.name + "=" + file.path + ": " + out.application +
                          " does not import " + printable(file.name) + ", directly or through its libraries",
                          FailureKind::CheckFailed);
    return out;
}

}  // namespace velmark::cli
