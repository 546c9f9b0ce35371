// The DOS header, PE signature, file header, PE32 optional header and
// section table of a Windows CE ARM DLL, for a finished layout.
#pragma once

#include "formats/pe/PeImage.h"
#include "toolchain/imagewriter/Layout.h"

#include <array>
#include <cstdint>
#include <vector>

namespace imagewriter {

using DataDirectories = std::array<pe::DataDirectory, 16>;

// layout.headersSize() bytes, ready to go at file offset 0.
std::vector<uint8_t> buildHeaders(const ImageLayout& layout, uint32_t entryRva, const DataDirectories& directories);

}  // namespace imagewriter
