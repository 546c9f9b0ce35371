// A strict reader for install descriptors. Every count, offset and length is
// checked against the file, every id an entry refers to must name an entry of
// the right table, and each malformed structure is refused with a FormatError
// giving its offset. What installers are known to write beyond the bare
// format is accepted: strings padded with extra NULs, string-table entries
// and shortcut names without their final NUL or terminating 0, and absolute
// folders without their leading backslash (DevicePaths.h shows them whole).
#pragma once

#include "formats/cab/InstallDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

namespace cab {

// `member` is the descriptor's name in its cabinet, given in errors. With
// `memberIds`, the extensions of the cabinet's members, every file must have
// its member.
InstallDescriptor readInstallDescriptor(const uint8_t* data, size_t size, const std::string& member,
                                        const std::set<uint16_t>* memberIds = nullptr);

}  // namespace cab
