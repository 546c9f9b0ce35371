// Collects every problem a check finds, so that one run of the writer lists
// them all, then raises them together as one ImageError.
#pragma once

#include "ImageError.h"

#include <string>

namespace imagewriter {

class Problems {
public:
    explicit Problems(std::string path) : path_(std::move(path)) {}

    void add(const std::string& message) {
        if (count_++ < kShown) text_ += path_ + ": " + message + "\n";
    }
    void raiseIfAny() const {
        if (count_ > kShown)
            throw ImageError(text_ + path_ + ": ... and " + std::to_string(count_ - kShown) + " more\n");
        if (count_) throw ImageError(text_);
    }

private:
    // A broken link can fail every one of 1675 exports; the first few say why.
    static constexpr int kShown = 40;
    std::string path_;
    std::string text_;
    int count_ = 0;
};

}  // namespace imagewriter
