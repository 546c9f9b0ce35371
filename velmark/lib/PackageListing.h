// What a Windows CE installation CAB installs, as `velmark package --list`
// prints it: one "field: value" line per descriptor field and entry, each
// file with its folder on the device and its size. Text from the file is
// shown printable (control characters escaped).
#pragma once

#include "formats/cab/InstallCabinet.h"

#include <string>

namespace velmark::cli {

std::string describeInstallCabinet(const cab::InstallCabinet& cabinet);

// Throws Failure "PATH: offset 0x..: REASON" for a file that cannot be read
// or is no well-formed installation CAB.
cab::InstallCabinet readInstallCabinetFile(const std::string& path);

}  // namespace velmark::cli
