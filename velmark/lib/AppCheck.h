// What `velmark check` says of an application before anything is written:
// whether retarget would accept it, whether it already imports VELMARK, or
// why VELMARK cannot serve it. Decided by the same code retarget runs.
#pragma once

#include "formats/exporttable/ExportTable.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmark::cli {

enum class AppState { ReadyToRetarget, AlreadyRetargeted, NotServed, NotAnImage };

struct AppVerdict {
    AppState state = AppState::NotServed;
    std::string summary;               // machine, subsystem, kind of image
    std::string why;                   // for NotServed and NotAnImage (and a retargeted image that cannot be undone)
    std::vector<std::string> details;  // e.g. each import VELMARK lacks
    size_t coredllImports = 0;         // entries taken from COREDLL (or VELMARK, once retargeted)
};

AppVerdict checkApplication(std::vector<uint8_t> file, const velmark::ExportTable& table);

}  // namespace velmark::cli
