// The human-readable summary of a PE image, the same wherever it is shown
// (the image writer's log, `velmark inspect`, the benchmark): what the image
// is (machine, subsystem, size, sections), what it exports and imports, its
// base relocations and exception table.
#pragma once

#include "formats/pe/PeImage.h"

#include <ostream>
#include <string>

namespace pe {

// One name for a machine in every command: "ARM", "ARMV4I", ...
std::string machineName(uint16_t machine);
// The name and the number, "ARMV4I (0x1C2)".
std::string machineLabel(uint16_t machine);
std::string subsystemName(uint16_t subsystem);
std::string sectionFlags(uint32_t characteristics);

void writeSummary(std::ostream& out, const std::string& path, const pe::Image& image);

}  // namespace pe
