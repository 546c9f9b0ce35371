#include "velmark/lib/FileIo.h"

#include "velmark/lib/Failure.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace velmark::cli {
namespace {

// Links followed before giving up, as the kernel's own limit.
constexpr int kMaxLinks = 40;

std::string reasonOf(int error) { return std::strerror(error); }

// Writes all of `bytes` to an open descriptor; false with errno set on failure.
bool writeAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

void writeThrough(const std::string& path, const std::vector<uint8_t>& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) throw Failure(path + ": cannot be written: " + reasonOf(errno));
    bool ok = writeAll(fd, bytes);
    int error = errno;
    ::close(fd);
    if (!ok) throw Failure(path + ": write failed: " + reasonOf(error));
}

// The mode a newly created file gets: 0666 less the process's umask.
mode_t newFileMode() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

void writeAtomically(const std::string& path, const std::vector<uint8_t>& bytes, const std::string& permissionsFrom) {
    fs::path destination(path);
    fs::path directory = destination.has_parent_path() ? destination.parent_path() : fs::path(".");
    // Short, so that a destination name near the 255-byte limit still works.
    std::string temporary = (directory / ".velmark-XXXXXX").string();
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) throw Failure(path + ": cannot be written: " + reasonOf(errno));
    struct stat existing {};
    mode_t mode = newFileMode();
    const std::string& modelFile = permissionsFrom.empty() ? path : permissionsFrom;
    if (::stat(modelFile.c_str(), &existing) == 0) mode = existing.st_mode & 07777;
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    int error = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(temporary.c_str());
        throw Failure(path + ": write failed: " + reasonOf(error ? error : errno));
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
        ::unlink(temporary.c_str());
        throw Failure(path + ": cannot be replaced: " + reasonOf(error));
    }
}

// The file a path finally names once symbolic links are followed.
std::string resolveLinks(const std::string& path) {
    fs::path current(path);
    for (int i = 0; i < kMaxLinks; ++i) {
        std::error_code ec;
        if (!fs::is_symlink(current, ec)) return current.string();
        fs::path target = fs::read_symlink(current, ec);
        if (ec) throw Failure(path + ": the link cannot be read: " + ec.message());
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    throw Failure(path + ": too many levels of symbolic links");
}

}  // namespace

std::vector<uint8_t> readWholeFile(const std::string& path) {
    if (path.empty()) throw Failure("a file name is empty", FailureKind::BadUsage);
    std::error_code ec;
    if (fs::is_directory(path, ec)) throw Failure(path + ": cannot be read: it is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure(path + ": cannot be read: " + std::strerror(errno));
    try {
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) throw Failure(path + ": cannot be read: " + std::strerror(errno));
        return bytes;
    } catch (const std::bad_alloc&) {
        throw Failure(path + ": cannot be read: not enough memory to hold it");
    }
}

void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, const std::string& permissionsFrom) {
    if (path.empty()) throw Failure("the output file name is empty", FailureKind::BadUsage);
    const std::string target = resolveLinks(path);
    std::error_code ec;
    fs::file_status status = fs::status(target, ec);
    if (fs::is_directory(status))
        throw Failure(path + ": cannot be written: it is a directory");
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        writeThrough(target, bytes);
        return;
    }
    writeAtomically(target, bytes, permissionsFrom);
}

void refuseToOverwriteInputs(const std::string& output, const std::vector<std::string>& inputs,
                             const std::string& remedy) {
    struct stat written {};
    if (::stat(output.c_str(), &written) != 0) return;  // not there yet: nothing to lose
    for (const std::string& input : inputs) {
        struct stat read {};
        if (!input.empty() && ::stat(input.c_str(), &read) == 0 && read.st_dev == written.st_dev &&
            read.st_ino == written.st_ino)
            throw Failure(output + ": is the same file as the input " + input + ", which writing it would destroy; " +
                              remedy,
                          FailureKind::BadUsage);
    }
}

void makeBackup(const std::string& path, const std::string& backup) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(backup, ec)))
        throw Failure(backup + ": a backup already exists; move it away before changing " + path +
                           " in place again");
    fs::copy_file(resolveLinks(path), backup, fs::copy_options::none, ec);
    if (ec) throw Failure(backup + ": cannot be written: " + ec.message());
}

}  // namespace velmark::cli
