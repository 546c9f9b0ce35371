#include "velmark/lib/LibraryRouting.h"

#include "formats/common/DllNames.h"
#include "formats/common/Printable.h"
#include "formats/pe/PeFormat.h"
#include "velmark/lib/PrivateName.h"
#include "velmark/lib/Retarget.h"

#include <set>

namespace velmark::cli {
namespace {

// Every library name the application and its libraries mention.
std::set<std::string> namesInUse(const ApplicationLibraries& libraries) {
    std::set<std::string> names;
    for (const std::string& name : libraries.imports) names.insert(foldedDllName(name));
    for (const std::string& name : libraries.unexamined) names.insert(foldedDllName(name));
    for (const ExaminedLibrary& library : libraries.examined) {
        names.insert(foldedDllName(library.name));
        for (const std::string& name : library.imports) names.insert(foldedDllName(name));
    }
    return names;
}

}  // namespace

std::optional<std::string> whyNotRoutable(const ExaminedLibrary& library, const velmark::ExportTable& table,
                                          std::vector<std::string>* details) {
    if (!(library.image.fileCharacteristics & pe::format::kFileDll)) return "it is not a DLL";
    if (library.importsVelmark()) return "it already imports " + std::string(velmark::kVelmarkDllName);
    try {
        retargetImage(library.image.file, RetargetDirection::ToVelmark, table);
    } catch (const RetargetRefused& e) {
        if (details) *details = e.details();
        return e.what();
    }
    return std::nullopt;
}

ImportRename toPrivateCopies(const ApplicationLibraries& libraries) {
    return [&libraries](std::string_view name) -> std::optional<std::string> {
        const ExaminedLibrary* library = libraries.find(name);
        if (!library || !library->given) return std::nullopt;
        return privateLibraryName(name);
    };
}

ImportRename fromPrivateCopies(const ApplicationLibraries& libraries) {
    return [&libraries](std::string_view name) -> std::optional<std::string> {
        const ExaminedLibrary* library = libraries.find(name);
        if (!library || !library->importsVelmark()) return std::nullopt;
        return privateLibraryName(name);
    };
}

LibraryVerdict checkLibraries(const ApplicationLibraries& libraries, const velmark::ExportTable& table) {
    LibraryVerdict verdict;
    for (const ExaminedLibrary& library : libraries.examined) {
        if (!library.given) continue;
        std::vector<std::string> details;
        std::optional<std::string> why = whyNotRoutable(library, table, &details);
        std::optional<std::string> privateName = privateLibraryName(library.name);
        if (!why && !privateName) why = "its name has no letter or digit to make a private name of";
        const std::string name = printable(library.name);
        if (why) {
            verdict.routable = false;
            verdict.lines.push_back(name + " (" + library.path + "): cannot be routed through VELMARK.dll: " + *why);
            for (const std::string& d : details) verdict.lines.push_back("  " + d);
            continue;
        }
        verdict.lines.push_back(name + " (" + library.path + "): can be routed through VELMARK.dll: a DLL for " +
                                (library.image.machine == pe::kMachineArm ? "ARM" : "ARMV4I") +
                                " whose COREDLL imports VELMARK.dll all exports; its private copy: " + *privateName);
    }
    for (const auto& [library, routed] : libraries.draggedIn()) {
        verdict.routable = false;
        verdict.lines.push_back("routing " + printable(routed) + " drags in " + printable(library) +
                                ", which imports it (directly or through another library): route it too with "
                                "--library " + printable(library) + "=" +
                                libraries.find(library)->path);
    }
    return verdict;
}

std::vector<RoutedCopy> routeLibraries(const ApplicationLibraries& libraries, const velmark::ExportTable& table) {
    LibraryVerdict verdict = checkLibraries(libraries, table);
    if (!verdict.routable)
        throw RetargetRefused("the libraries given cannot be routed as they are: every library that imports a routed "
                              "one must be routed too, or the process would hold the system's copy beside the private one",
                              verdict.lines);
    std::set<std::string> inUse = namesInUse(libraries);
    std::set<std::string> privateNames;
    std::vector<RoutedCopy> copies;
    for (const ExaminedLibrary& library : libraries.examined) {
        if (!library.given) continue;
        const std::string privateName = *privateLibraryName(library.name);
        if (inUse.count(foldedDllName(privateName)) || isSystemInterface(privateName) ||
            !privateNames.insert(foldedDllName(privateName)).second)
            throw RetargetRefused(printable(library.name) + ": its private copy's name " + printable(privateName) +
                                  " is already the name of another library of the application");
        RoutedCopy copy{library.name, privateName, {}, {}};
        RetargetResult retargeted = retargetImage(library.image.file, RetargetDirection::ToVelmark, table);
        copy.renamed = retargeted.renamed;
        pe::Image image = pe::readImage(std::move(retargeted.file));
        ImportRenaming renamed = renameImports(image, toPrivateCopies(libraries));
        copy.renamed.insert(copy.renamed.end(), renamed.renamed.begin(), renamed.renamed.end());
        copy.file = std::move(image.file);
        copies.push_back(std::move(copy));
    }
    return copies;
}

}  // namespace velmark::cli
