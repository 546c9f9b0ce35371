// The image of a language module. Readers find the module's own resource
// directory whether they start at the resource data directory (the
// platform, pefile) or at the start of the section named .rsrc
// (llvm-readobj): .rsrc begins with it. The host's resource data, which
// must keep the host's RVAs, lies in a section of its own below.
#pragma once

#include "formats/pe/Resources.h"

#include <cstdint>
#include <vector>

namespace velmark::cli {

// Resources whose data the module holds after its directory.
struct OwnResources {
    std::vector<uint8_t> data;   // each such leaf's data at its dataRva, counted from the data's start
    std::vector<size_t> leaves;  // which of the module's leaves they are
};

// `hostData`: the host's resource section as it lies in memory from RVA
// `base` (page-aligned), with nothing of the host's directory in it.
// Below `base`, one uninitialised section keeps the RVAs.
std::vector<uint8_t> writeModuleImage(uint32_t base, std::vector<uint8_t> hostData, std::vector<pe::Resource> leaves,
                                      const OwnResources& own);

}  // namespace velmark::cli
