// The human-readable report of `velmark inspect`: what any PE image is
// (machine, subsystem, sections) and what it exports and imports.
#pragma once

#include "PeImage.h"

#include <ostream>
#include <string>

namespace velmark::cli {

// One name for a machine in every command: "ARM", "ARMV4I", ...
std::string machineName(uint16_t machine);
// The name and the number, "ARMV4I (0x1C2)".
std::string machineLabel(uint16_t machine);
std::string subsystemName(uint16_t subsystem);
std::string sectionFlags(uint32_t characteristics);

void writeSummary(std::ostream& out, const std::string& path, const pe::Image& image);

}  // namespace velmark::cli
