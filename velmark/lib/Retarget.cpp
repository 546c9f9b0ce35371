#include "velmark/lib/Retarget.h"

#include "formats/common/DllNames.h"
#include "formats/common/Printable.h"
#include "formats/pe/ImageSummary.h"
#include "velmark/lib/ImportRenames.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <unordered_set>

namespace velmark::cli {
namespace {

const std::string kCoredll = velmark::kCoredllDllName;
const std::string kVelmark = velmark::kVelmarkDllName;
// Every missing import is one line; a wholly foreign image would give
// hundreds of thousands.
constexpr size_t kLackingShown = 100;

pe::Image readOrRefuse(std::vector<uint8_t> file) {
    try {
        return pe::readImage(std::move(file));
    } catch (const pe::PeFormatError& e) {
        throw NotAnImage(std::string("not a PE image: ") + e.what());
    }
}

std::string importedNames(const pe::Image& image) {
    std::string names;
    for (const pe::ImportedLibrary& library : image.imports)
        names += (names.empty() ? "" : ", ") + printable(library.dllName);
    return names.empty() ? "none" : names;
}

// Indexes of the import descriptors naming `dll` (any case).
std::vector<size_t> descriptorsNaming(const pe::Image& image, std::string_view dll) {
    std::vector<size_t> found;
    for (size_t i = 0; i < image.imports.size(); ++i)
        if (velmark::sameDllName(image.imports[i].dllName, dll)) found.push_back(i);
    return found;
}

// COREDLL's export names, for lookups of names read from an image. A name
// longer than the longest export is answered without hashing it, so many
// entries pointing into one very long name cost no more than short ones.
class TableNames {
public:
    explicit TableNames(const velmark::ExportTable& table) {
        for (const velmark::ExportEntry& row : table.rows()) {
            names_.insert(row.name);
            longest_ = std::max(longest_, row.name.size());
        }
    }
    bool has(std::string_view name) const { return name.size() <= longest_ && names_.count(name); }
    size_t size() const { return names_.size(); }

private:
    std::unordered_set<std::string_view> names_;
    size_t longest_ = 0;
};

// Why the image is not a Windows CE application for ARM or ARMV4I, if it is not.
std::optional<std::string> notWindowsCeArm(const pe::Image& image) {
    if (image.machine != pe::kMachineArm && image.machine != pe::kMachineArmv4i)
        return "machine " + pe::machineLabel(image.machine) + " is not ARM; VELMARK serves only Windows CE " +
               "applications for ARM (0x1C0) or ARMV4I (0x1C2)";
    if (image.subsystem != pe::kSubsystemWindowsCeGui)
        return "subsystem " + std::to_string(image.subsystem) + " (" + pe::subsystemName(image.subsystem) +
               ") is not Windows CE GUI (9); VELMARK serves only Windows CE applications";
    return std::nullopt;
}

// Why the image is not an application VELMARK can serve because it is
// VELMARK or COREDLL (or anything else exporting COREDLL's interface).
std::optional<std::string> notAnApplication(const pe::Image& image, const velmark::ExportTable& table) {
    for (const char* own : {velmark::kVelmarkDllName, velmark::kCoredllDllName})
        if (velmark::sameDllName(image.exportDllName, own))
            return "it is " + printable(image.exportDllName) +
                   " itself (its export directory says so), not an application that imports it";
    const TableNames tableNames(table);
    std::unordered_set<std::string_view> shared;
    for (const pe::NamedExport& named : image.namedExports)
        if (tableNames.has(named.name)) shared.insert(named.name);
    // A library serving a few of COREDLL's names is ordinary; one serving
    // most of them stands in for COREDLL, as VELMARK itself does.
    if (tableNames.size() && shared.size() * 2 > tableNames.size())
        return "it exports " + std::to_string(shared.size()) + " of COREDLL's " + std::to_string(tableNames.size()) +
               " names: it stands in for COREDLL, it is not an application that imports it";
    return std::nullopt;
}

}  // namespace

std::string nameWithCaseOf(std::string_view from, const std::string& newName) {
    std::string out = newName;
    for (size_t i = 0; i < out.size() && i < from.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        bool lower = std::islower(static_cast<unsigned char>(from[i]));
        out[i] = char(lower ? std::tolower(c) : std::toupper(c));
    }
    return out;
}

std::vector<std::string> importsVelmarkLacks(const pe::Image& image, const velmark::ExportTable& table, size_t shown,
                                             size_t* total) {
    const TableNames names(table);
    std::vector<std::string> lacking;
    size_t count = 0;
    for (size_t d : descriptorsNaming(image, kCoredll)) {
        for (const pe::Import& import : image.imports[d].entries) {
            const bool missing = import.byOrdinal ? !table.findOrdinal(import.ordinal) : !names.has(import.name);
            if (!missing) continue;
            if (++count > shown) continue;
            lacking.push_back(import.byOrdinal ? "ordinal " + std::to_string(import.ordinal)
                                               : "name " + quoted(import.name));
        }
    }
    if (count > shown) lacking.push_back("... and " + std::to_string(count - shown) + " more");
    if (total) *total = count;
    return lacking;
}

bool isRetargeted(const pe::Image& image) { return !descriptorsNaming(image, kVelmark).empty(); }

size_t entriesImportedFrom(const pe::Image& image, std::string_view dll) {
    size_t count = 0;
    for (size_t d : descriptorsNaming(image, dll)) count += image.imports[d].entries.size();
    return count;
}

RetargetResult retargetImage(std::vector<uint8_t> file, RetargetDirection direction, const velmark::ExportTable& table) {
    pe::Image image = readOrRefuse(std::move(file));
    if (std::optional<std::string> why = notWindowsCeArm(image)) throw RetargetRefused(*why);
    if (std::optional<std::string> why = notAnApplication(image, table)) throw RetargetRefused(*why);

    const bool toVelmark = direction == RetargetDirection::ToVelmark;
    const std::string& from = toVelmark ? kCoredll : kVelmark;
    const std::string& to = toVelmark ? kVelmark : kCoredll;
    if (toVelmark && isRetargeted(image))
        throw RetargetRefused("already retargeted: it imports " + kVelmark);
    std::vector<size_t> descriptors = descriptorsNaming(image, from);
    if (descriptors.empty())
        throw RetargetRefused(toVelmark ? "no " + kCoredll + " import to retarget (it imports: " + importedNames(image) + ")"
                                        : "not retargeted: it has no " + kVelmark + " import (it imports: " +
                                              importedNames(image) + ")");

    RetargetResult result;
    if (toVelmark) {
        size_t count = 0;
        std::vector<std::string> lacking = importsVelmarkLacks(image, table, kLackingShown, &count);
        if (count)
            throw RetargetRefused(std::to_string(count) + " of its " + kCoredll +
                                  " imports are not exported by " + kVelmark +
                                  "; the Windows CE loader would refuse the application",
                                  lacking);
        for (size_t d : descriptors) result.importsChecked += image.imports[d].entries.size();
    }

    ImportRenaming renaming = renameImports(image, [&from, &to](std::string_view name) -> std::optional<std::string> {
        if (!velmark::sameDllName(name, from)) return std::nullopt;
        return nameWithCaseOf(name, to);
    });
    result.file = std::move(image.file);
    result.renamed = std::move(renaming.renamed);
    result.checksumUpdated = renaming.checksumUpdated;
    return result;
}

}  // namespace velmark::cli
