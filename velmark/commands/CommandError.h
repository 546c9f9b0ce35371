// How a subcommand fails: the exit status it ends with and the sentence that
// goes to stderr (already naming the file and the reason).
#pragma once

#include "velmark/lib/Failure.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace velmark::cli {

// As grep and diff: 0 yes or done, 1 the answer is no (a check fails),
// 2 bad usage or a file that cannot be used.
constexpr int kExitOk = 0;
constexpr int kExitCheckFailed = 1;
constexpr int kExitBadUsage = 2;
constexpr int kExitUnusable = 2;

// The exit status of a failure of the library's work.
inline int exitCodeOf(FailureKind kind) {
    return kind == FailureKind::CheckFailed ? kExitCheckFailed : kExitUnusable;
}

class CommandError : public std::runtime_error {
public:
    CommandError(const std::string& message, int exitCode = kExitUnusable,
                 std::vector<std::string> details = {})
        : std::runtime_error(message), exitCode_(exitCode), details_(std::move(details)) {}

    int exitCode() const { return exitCode_; }
    // One line each, printed after the message (e.g. every missing import).
    const std::vector<std::string>& details() const { return details_; }

private:
    int exitCode_;
    std::vector<std::string> details_;
};

}  // namespace velmark::cli
