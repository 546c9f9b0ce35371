// Runs a shell command for a test and captures its standard output.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct CommandResult {
    int exitCode = -1;
    std::string output;
};

// The command runs under /bin/sh; add "2>&1" to capture its errors as well.
CommandResult runCommand(const std::string& command);

// Quotes one argument for /bin/sh.
std::string shellQuote(const std::string& argument);

// Each line followed by a newline: a list a check found, for its message.
std::string joined(const std::vector<std::string>& lines);

}  // namespace testsupport
