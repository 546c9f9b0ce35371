// Resources with their bytes, as a compiled .res file holds them, and the
// image that carries them in a .rsrc section: how the tests and the
// benchmark turn llvm-rc's output into an application's resources.
#pragma once

#include "formats/pe/Resources.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mui {

struct ResourceData {
    pe::ResourceName type, name;
    uint16_t language = 0;
    std::vector<uint8_t> bytes;
};

// The resources of a Win32 .res file (as llvm-rc writes it); throws
// ResourceFormatError naming the offset of a malformed header.
std::vector<ResourceData> parseResFile(const std::vector<uint8_t>& bytes);

// A .rsrc section at `rva`: directory first, then each resource's bytes on a
// 4-byte boundary.
std::vector<uint8_t> writeResourceSection(const std::vector<ResourceData>& resources, uint32_t rva);

// An ARM CE image with `codeSize` bytes of (zero) code below its .rsrc, so
// that its resources do not start at the first page, as in a real application.
std::vector<uint8_t> writeApplicationImage(const std::vector<ResourceData>& resources, uint32_t codeSize = 0x3000);

}  // namespace mui
