// Running the velmark command (and the independent PE readers) as a user
// would, capturing what it prints and how it exits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmark::testing {

struct RunResult {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

RunResult runProgram(const std::vector<std::string>& argv);
// The velmark command under test with these arguments.
RunResult runVelmark(const std::vector<std::string>& args);

// A fresh directory for one test, removed with the object.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

std::vector<uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool fileExists(const std::string& path);

// Whether captured output holds `part`.
inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace velmark::testing
