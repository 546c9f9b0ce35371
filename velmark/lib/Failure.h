// Why the work asked of the library could not be done: a sentence that
// already names the file and the reason, and what kind of failure it is.
// The subcommands turn the kind into their exit status.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace velmark::cli {

enum class FailureKind {
    CheckFailed,  // the answer is no: the file is not what was asked for
    Unusable,     // a file cannot be read, written or used at all
    BadUsage,     // what was asked makes no sense (an empty file name)
};

class Failure : public std::runtime_error {
public:
    Failure(const std::string& message, FailureKind kind = FailureKind::Unusable,
            std::vector<std::string> details = {})
        : std::runtime_error(message), kind_(kind), details_(std::move(details)) {}

    FailureKind kind() const { return kind_; }
    // One line each, printed after the message.
    const std::vector<std::string>& details() const { return details_; }

private:
    FailureKind kind_;
    std::vector<std::string> details_;
};

}  // namespace velmark::cli
