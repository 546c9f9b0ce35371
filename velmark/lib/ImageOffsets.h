// Where things of a PE image lie in its file, for the subcommands that
// change bytes in place or look at raw header fields.
#pragma once

#include "formats/pe/PeImage.h"

#include <cstdint>

namespace velmark::cli {

// File offset of the optional header's CheckSum field.
uint32_t checksumFieldOffset(const pe::Image& image);

// The PE checksum of `file` as the Windows loader and image tools compute it:
// the 16-bit one's-complement-style sum of the file (the CheckSum field
// itself counted as zero) plus the file's length.
uint32_t peChecksum(const std::vector<uint8_t>& file, uint32_t fieldOffset);

}  // namespace velmark::cli
