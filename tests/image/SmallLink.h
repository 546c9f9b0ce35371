// Assembles and links a small ARM module the way the build links the real
// one (arm-none-eabi-ld -q at the image base), in a temporary directory that
// is removed afterwards. The writer's tests feed such links, sound or broken
// on purpose, to the image writer.
#pragma once

#include <string>

namespace testsupport {

// The module's layout in miniature: code from 0x10001000, then read-only
// data and writable data (IAT first, .bss last) each on a new page.
extern const char* const kSmallLinkerScript;

class SmallLink {
public:
    SmallLink(const std::string& assembly, const std::string& linkerScript = kSmallLinkerScript,
              const std::string& extraLinkerArguments = "");
    ~SmallLink();
    SmallLink(const SmallLink&) = delete;
    SmallLink& operator=(const SmallLink&) = delete;

    bool linked() const { return linked_; }
    const std::string& log() const { return log_; }  // assembler and linker messages
    const std::string& elfPath() const { return elfPath_; }
    // A file in the link's directory, written with the given contents.
    std::string writeFile(const std::string& name, const std::string& contents) const;
    std::string pathOf(const std::string& name) const { return directory_ + "/" + name; }

private:
    std::string directory_;
    std::string elfPath_;
    std::string log_;
    bool linked_ = false;
};

}  // namespace testsupport
