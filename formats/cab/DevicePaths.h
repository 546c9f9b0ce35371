// Device folders as the descriptor stores them: path components, starting
// with a %CEn% macro for a standard folder (%CE1% \Program Files, %CE2%
// \Windows), or with the first folder of an absolute path, whose leading
// backslash is not stored.
#pragma once

#include "formats/cab/InstallDescriptor.h"

#include <string>

namespace cab {

// "\Program Files\App" -> {"%CE1%", "App"}, "\Windows" -> {"%CE2%"},
// "\Storage\App" -> {"Storage", "App"}. Empty components ("\\", a trailing
// backslash) are dropped.
Path folderPath(const std::string& devicePath);

// The folder on the device: macros whose folder is the same on every kind of
// device are replaced by it, others (%CE11%, the programs menu, differs
// between handheld and pocket devices) are shown as they are.
std::string devicePath(const Path& path);

// A shortcut's base folder: "%InstallDir%" or the %CEn% macro, expanded as above.
std::string shortcutBase(uint16_t baseDirectory);

}  // namespace cab
