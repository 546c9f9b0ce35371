// Checks a built VELMARK.dll against the export table source: its identity,
// the whole export directory, the import table and every forwarder's code.
// Each difference becomes one sentence naming the ordinal, name or entry.
#pragma once

#include "formats/exporttable/ExportTable.h"
#include "formats/pe/PeImage.h"

#include <string>
#include <vector>

namespace velmark::imagecheck {

struct VelmarkCheck {
    std::vector<std::string> mismatches;
    size_t exportsChecked = 0;
    size_t importsChecked = 0;
    size_t forwardersChecked = 0;
};

// Whether the image calls itself VELMARK (its export directory's DLL name,
// in any letter case), so that the table applies to it.
bool isVelmarkImage(const pe::Image& image);

VelmarkCheck checkVelmarkImage(const pe::Image& image, const velmark::ExportTable& table);

}  // namespace velmark::imagecheck
