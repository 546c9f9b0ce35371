#include "Retarget.h"

#include "DllNames.h"
#include "Hex.h"

#include "ByteOrder.h"
#include "ImageOffsets.h"
#include "PeFormat.h"

#include <cctype>
#include <sstream>

namespace velmark::cli {
namespace {

const std::string kCoredll = velmark::kCoredllDllName;
const std::string kVelmark = velmark::kVelmarkDllName;

bool sameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

using velmark::hex;

pe::Image readOrRefuse(std::vector<uint8_t> file) {
    try {
        return pe::readImage(std::move(file));
    } catch (const pe::PeFormatError& e) {
        throw RetargetRefused(std::string("not a PE image: ") + e.what());
    }
}

void requireWindowsCeArm(const pe::Image& image) {
    if (image.machine != pe::kMachineArm)
        throw RetargetRefused("machine " + hex(image.machine) + " is not ARM (0x1C0); VELMARK serves only " +
                              "Windows CE ARM applications");
    if (image.subsystem != pe::kSubsystemWindowsCeGui)
        throw RetargetRefused("subsystem " + std::to_string(image.subsystem) +
                              " is not Windows CE (9); VELMARK serves only Windows CE ARM applications");
}

std::string importedNames(const pe::Image& image) {
    std::string names;
    for (const pe::ImportedLibrary& library : image.imports) names += (names.empty() ? "" : ", ") + library.dllName;
    return names.empty() ? "none" : names;
}

// Indexes of the import descriptors naming `dll` (any case).
std::vector<size_t> descriptorsNaming(const pe::Image& image, const std::string& dll) {
    std::vector<size_t> found;
    for (size_t i = 0; i < image.imports.size(); ++i)
        if (sameNameIgnoringCase(image.imports[i].dllName, dll)) found.push_back(i);
    return found;
}

uint32_t descriptorField(const pe::Image& image, size_t descriptor, uint32_t field) {
    using namespace pe::format;
    return image.read32(image.directories[kDirImport].rva + uint32_t(descriptor) * kImportDescriptorSize + field);
}

// A bound import's IAT already holds COREDLL's addresses on disk; the loader
// could keep them for VELMARK, so such an image is refused, not rewritten.
void refuseBound(const pe::Image& image, const std::vector<size_t>& descriptors) {
    for (size_t d : descriptors) {
        uint32_t stamp = descriptorField(image, d, pe::format::kIdTimeDateStamp);
        if (stamp != 0)
            throw RetargetRefused("import descriptor " + std::to_string(d) + " (" + image.imports[d].dllName +
                                  ") is bound (TimeDateStamp " + hex(stamp) +
                                  "): its IAT holds addresses inside COREDLL; relink the application unbound");
    }
}

}  // namespace

std::string nameWithCaseOf(const std::string& from, const std::string& newName) {
    std::string out = newName;
    for (size_t i = 0; i < out.size() && i < from.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        bool lower = std::islower(static_cast<unsigned char>(from[i]));
        out[i] = char(lower ? std::tolower(c) : std::toupper(c));
    }
    return out;
}

std::vector<std::string> importsVelmarkLacks(const pe::Image& image, const velmark::ExportTable& table) {
    std::vector<std::string> lacking;
    for (size_t d : descriptorsNaming(image, kCoredll)) {
        for (const pe::Import& import : image.imports[d].entries) {
            if (import.byOrdinal) {
                if (!table.findOrdinal(import.ordinal)) lacking.push_back("ordinal " + std::to_string(import.ordinal));
            } else if (!table.findName(import.name)) {
                lacking.push_back("name \"" + import.name + "\"");
            }
        }
    }
    return lacking;
}

RetargetResult retargetImage(std::vector<uint8_t> file, RetargetDirection direction, const velmark::ExportTable& table) {
    pe::Image image = readOrRefuse(std::move(file));
    requireWindowsCeArm(image);

    const bool toVelmark = direction == RetargetDirection::ToVelmark;
    const std::string& from = toVelmark ? kCoredll : kVelmark;
    const std::string& to = toVelmark ? kVelmark : kCoredll;
    if (toVelmark && !descriptorsNaming(image, kVelmark).empty())
        throw RetargetRefused("already retargeted: it imports " + kVelmark);
    std::vector<size_t> descriptors = descriptorsNaming(image, from);
    if (descriptors.empty())
        throw RetargetRefused(toVelmark ? "no " + kCoredll + " import to retarget (it imports: " + importedNames(image) + ")"
                                        : "not retargeted: it has no " + kVelmark + " import (it imports: " +
                                              importedNames(image) + ")");
    refuseBound(image, descriptors);

    RetargetResult result;
    if (toVelmark) {
        std::vector<std::string> lacking = importsVelmarkLacks(image, table);
        if (!lacking.empty())
            throw RetargetRefused(std::to_string(lacking.size()) + " of its " + kCoredll +
                                  " imports are not exported by " + kVelmark +
                                  "; the Windows CE loader would refuse the application",
                                  lacking);
        for (size_t d : descriptors) result.importsChecked += image.imports[d].entries.size();
    }

    const uint32_t checksumAt = checksumFieldOffset(image);
    const uint32_t storedChecksum = pe::loadLe32(image.file.data() + checksumAt);
    const bool checksumValid = storedChecksum != 0 && storedChecksum == peChecksum(image.file, checksumAt);

    std::vector<uint32_t> nameOffsets;
    for (size_t d : descriptors) {
        // The reader found the name NUL-terminated inside its section and of
        // eleven characters, so all of it is file-backed.
        uint32_t nameRva = descriptorField(image, d, pe::format::kIdName);
        nameOffsets.push_back(fileOffsetOfRva(image, nameRva, uint32_t(from.size())));
    }
    result.file = std::move(image.file);
    for (size_t i = 0; i < descriptors.size(); ++i) {
        // Taken from what the reader saw, so that two descriptors sharing
        // one name string both report the original.
        const std::string& old = image.imports[descriptors[i]].dllName;
        std::string renamed = nameWithCaseOf(old, to);
        std::copy(renamed.begin(), renamed.end(), result.file.begin() + nameOffsets[i]);
        result.renamed.push_back({descriptors[i], old, renamed});
    }
    if (checksumValid) {
        pe::storeLe32(result.file.data() + checksumAt, peChecksum(result.file, checksumAt));
        result.checksumUpdated = true;
    }
    return result;
}

}  // namespace velmark::cli
