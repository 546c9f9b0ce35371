// Writes an install descriptor in the layout the device's installer reads:
// the header, the application name, provider and unsupported platforms, then
// the strings, folders, files, registry keys, registry values and shortcuts.
// Every path component becomes one entry of the string table, shared by all
// the paths that use it.
#pragma once

#include "formats/cab/InstallDescriptor.h"

#include <cstdint>
#include <vector>

namespace cab {

// Throws UnwritableContent for text that is not printable ASCII, a path
// component that is empty or holds a backslash, or a table or entry too
// large for the format's 16-bit counts and lengths.
std::vector<uint8_t> writeInstallDescriptor(const InstallDescriptor& descriptor);

}  // namespace cab
