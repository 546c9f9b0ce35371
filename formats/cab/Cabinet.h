// Microsoft cabinet files through libgcab (Debian's libgcab-dev): writing
// one uncompressed folder, and reading any single cabinet whole. Before
// libgcab reads a cabinet, its header, folder and file entries are checked
// here, so that a malformed one is refused with the offset of the structure
// at fault; libgcab then decompresses and checks the data blocks.
#pragma once

#include "formats/cab/InstallDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cab {

struct CabinetMember {
    std::string name;
    std::vector<uint8_t> bytes;
    int64_t modified = 0;    // when written: seconds since 1970 (UTC); not read back
    size_t entryOffset = 0;  // when read: where its file entry is in the cabinet
};

// The members in the given order, in one uncompressed folder. Throws
// UnwritableContent when libgcab refuses a member (a name given twice).
std::vector<uint8_t> writeCabinet(const std::vector<CabinetMember>& members);

// Every member, in the order of the cabinet's file entries. Throws
// FormatError (with an empty member name) for a malformed cabinet, one of a
// multi-file set, or data that does not decompress to the sizes given.
std::vector<CabinetMember> readCabinet(const uint8_t* data, size_t size);

}  // namespace cab
