// A Windows CE installation CAB: a cabinet holding the install descriptor as
// its ".000" member, then each file to install under the member name its id
// gives, and perhaps a setup DLL as ".999".
#pragma once

#include "formats/cab/Cabinet.h"
#include "formats/cab/InstallDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cab {

struct FileContent {
    std::vector<uint8_t> bytes;
    int64_t modified = 0;  // seconds since 1970 (UTC)
};

// The descriptor first, then the files in descending order of their ids, as
// the installer expects them. `contents` holds each file's bytes by id; the
// descriptor member has the time of the newest file. Throws UnwritableContent
// when a file of the descriptor has no content or an id outside 1 to 998, or
// when a content belongs to no file.
std::vector<uint8_t> writeInstallCabinet(const InstallDescriptor& descriptor,
                                         const std::map<uint16_t, FileContent>& contents);

struct InstallCabinet {
    std::string descriptorMember;
    InstallDescriptor descriptor;
    std::map<uint16_t, CabinetMember> files;  // by file id
    std::optional<CabinetMember> setupDll;
};

// Throws FormatError naming the member and the offset: a malformed cabinet or
// descriptor, no descriptor or two, members whose names do not end in three
// digits, two members with one id, a file without its member or a member
// that is no file of the descriptor.
InstallCabinet readInstallCabinet(const uint8_t* data, size_t size);

}  // namespace cab
