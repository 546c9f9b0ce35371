// Collects every problem a check finds, each as "where: message" on its own
// line, so that one run lists them all; raiseIfAny throws them together as
// one Error. Past `shown` problems only their count is added.
#pragma once

#include <string>

namespace velmark {

template <typename Error>
class Problems {
public:
    explicit Problems(std::string where, int shown = 1 << 30) : where_(std::move(where)), shown_(shown) {}

    void add(const std::string& message) { addAt(where_, message); }
    // For a source file: "where:line: message".
    void add(int line, const std::string& message) { addAt(where_ + ":" + std::to_string(line), message); }

    void raiseIfAny() const {
        if (count_ > shown_)
            throw Error(text_ + where_ + ": ... and " + std::to_string(count_ - shown_) + " more\n");
        if (count_) throw Error(text_);
    }

private:
    void addAt(const std::string& at, const std::string& message) {
        if (count_++ < shown_) text_ += at + ": " + message + "\n";
    }

    std::string where_;
    int shown_;
    std::string text_;
    int count_ = 0;
};

}  // namespace velmark
