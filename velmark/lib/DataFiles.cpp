#include "velmark/lib/DataFiles.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace velmark::cli {

std::string installedDll() {
    std::error_code ec;
    const fs::path command = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return "VELMARK.dll";
    return (command.parent_path().parent_path() / "share" / "velmark" / "VELMARK.dll").lexically_normal().string();
}

}  // namespace velmark::cli
