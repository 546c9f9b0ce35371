#include "formats/cab/DevicePaths.h"

#include <strings.h>

namespace cab {
namespace {

struct StandardFolder {
    const char* macro;
    const char* folder;
};

// Only the macros that name one folder on handheld and pocket devices alike.
constexpr StandardFolder kStandardFolders[] = {
    {"%CE1%", "\\Program Files"}, {"%CE2%", "\\Windows"},       {"%CE4%", "\\Windows\\StartUp"},
    {"%CE5%", "\\My Documents"},  {"%CE15%", "\\Windows\\Fonts"},
};

std::string joined(const Path& path, size_t from) {
    std::string out;
    for (size_t i = from; i < path.size(); ++i) out += "\\" + path[i];
    return out;
}

}  // namespace

Path folderPath(const std::string& devicePath) {
    Path parts;
    size_t start = 0;
    while (start <= devicePath.size()) {
        size_t end = devicePath.find('\\', start);
        if (end == std::string::npos) end = devicePath.size();
        if (end > start) parts.push_back(devicePath.substr(start, end - start));
        start = end + 1;
    }
    if (parts.empty()) return parts;
    // Only the first level becomes a macro: \Windows\StartUp is %CE2%\StartUp.
    for (const StandardFolder& standard : kStandardFolders) {
        if (strcasecmp(parts[0].c_str(), standard.folder + 1) == 0) {
            parts[0] = standard.macro;
            break;
        }
    }
    return parts;
}

std::string devicePath(const Path& path) {
    if (path.empty()) return "\\";
    for (const StandardFolder& standard : kStandardFolders)
        if (path[0] == standard.macro) return standard.folder + joined(path, 1);
    if (path[0].size() > 1 && path[0].front() == '%') return path[0] + joined(path, 1);
    return joined(path, 0);
}

std::string shortcutBase(uint16_t baseDirectory) {
    if (baseDirectory == kShortcutInInstallDir) return "%InstallDir%";
    return devicePath({"%CE" + std::to_string(baseDirectory) + "%"});
}

}  // namespace cab
