// Whole-file reads and writes for the subcommands. A regular file written
// appears complete or not at all: it is written beside its destination under
// a short temporary name and renamed over it, so an interrupted run never
// leaves half an image behind. A symbolic link is followed to the file it
// names (the link stays); a destination that is not a regular file (a device
// such as /dev/null, a pipe) is written through, never replaced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmark::cli {

// Throws Failure "PATH: cannot be read: REASON".
std::vector<uint8_t> readWholeFile(const std::string& path);

// Replaces (or creates) `path` with `bytes`. When `permissionsFrom` names a
// file, the result gets its permission bits (an application stays executable).
// An empty `path` is bad usage.
void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes,
                    const std::string& permissionsFrom = {});

// Refuses (bad usage) to write `output` over one of the command's inputs:
// the same file under any name (device and inode, symbolic links followed).
// `remedy` ends the message.
void refuseToOverwriteInputs(const std::string& output, const std::vector<std::string>& inputs,
                             const std::string& remedy = "choose another output");

// Copies `path` to `backup`; refuses when `backup` already exists, so that an
// earlier backup (perhaps the only original left) is never overwritten.
void makeBackup(const std::string& path, const std::string& backup);

}  // namespace velmark::cli
