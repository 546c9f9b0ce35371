#include "velmark/lib/AppCheck.h"

#include "formats/common/DllNames.h"
#include "formats/pe/ImageSummary.h"
#include "formats/pe/PeFormat.h"
#include "formats/pe/PeImage.h"
#include "velmark/lib/Retarget.h"

namespace velmark::cli {
namespace {

std::string summaryOf(const pe::Image& image) {
    bool dll = image.fileCharacteristics & pe::format::kFileDll;
    return pe::machineLabel(image.machine) + ", " + pe::subsystemName(image.subsystem) + " (" +
           std::to_string(image.subsystem) + "), " + (dll ? "DLL" : "executable");
}

}  // namespace

AppVerdict checkApplication(std::vector<uint8_t> file, const velmark::ExportTable& table) {
    AppVerdict verdict;
    pe::Image image;
    try {
        image = pe::readImage(std::move(file));
    } catch (const pe::PeFormatError& e) {
        verdict.state = AppState::NotAnImage;
        verdict.why = std::string("not a PE image: ") + e.what();
        return verdict;
    }
    verdict.summary = summaryOf(image);
    const bool retargeted = isRetargeted(image);
    verdict.coredllImports = entriesImportedFrom(image, retargeted ? velmark::kVelmarkDllName : velmark::kCoredllDllName);
    // Retarget itself decides, on a copy, so that check and retarget never
    // disagree; a retargeted image is tried the other way (undo).
    try {
        retargetImage(image.file, retargeted ? RetargetDirection::ToCoredll : RetargetDirection::ToVelmark, table);
        verdict.state = retargeted ? AppState::AlreadyRetargeted : AppState::ReadyToRetarget;
    } catch (const RetargetRefused& e) {
        verdict.state = AppState::NotServed;
        verdict.why = (retargeted ? "it imports VELMARK.dll, but cannot be restored: " : "") + std::string(e.what());
        verdict.details = e.details();
    }
    return verdict;
}

}  // namespace velmark::cli
