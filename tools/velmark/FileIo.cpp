#include "FileIo.h"

#include "CommandError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace velmark::cli {

std::vector<uint8_t> readWholeFile(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) throw CommandError(path + ": cannot be read: it is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CommandError(path + ": cannot be read: " + std::strerror(errno));
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw CommandError(path + ": cannot be read: " + std::strerror(errno));
    return bytes;
}

void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, const std::string& permissionsFrom) {
    const std::string temporary = path + ".velmark-tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) throw CommandError(path + ": cannot be written: " + std::strerror(errno));
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out.flush()) {
            std::remove(temporary.c_str());
            throw CommandError(path + ": write failed: " + std::strerror(errno));
        }
    }
    std::error_code ec;
    if (!permissionsFrom.empty()) {
        fs::perms perms = fs::status(permissionsFrom, ec).permissions();
        if (!ec) fs::permissions(temporary, perms, ec);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::string reason = std::strerror(errno);
        std::remove(temporary.c_str());
        throw CommandError(path + ": cannot be replaced: " + reason);
    }
}

void makeBackup(const std::string& path, const std::string& backup) {
    std::error_code ec;
    if (fs::exists(backup, ec))
        throw CommandError(backup + ": a backup already exists; move it away before changing " + path +
                           " in place again");
    fs::copy_file(path, backup, fs::copy_options::none, ec);
    if (ec) throw CommandError(backup + ": cannot be written: " + ec.message());
}

}  // namespace velmark::cli
