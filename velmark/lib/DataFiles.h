// Where the command finds the files installed with it: share/velmark beside
// the bin folder that holds the command, in an installation
// (PREFIX/bin/velmark, PREFIX/share/velmark/VELMARK.dll) and in the build
// tree alike.
#pragma once

#include <string>

namespace velmark::cli {

// The VELMARK.dll installed with the running command (it may not exist).
std::string installedDll();

}  // namespace velmark::cli
