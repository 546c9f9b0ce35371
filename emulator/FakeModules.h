// Modules: the host executable, libraries loaded from the virtual file
// system, and the module under test.
// Honours: GetModuleHandleW(NULL) and GetModuleFileNameW(NULL, ...) describe
// the host executable, not the module; LoadLibraryW returns null when the
// file is absent; FreeLibrary calls are counted.
#pragma once

#include "emulator/FakeFiles.h"
#include "emulator/Handles.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bench {

class FakeCoredll;

struct LibraryLoad {
    std::u16string path;  // as the caller gave it
    uint32_t handle = 0;  // 0 when the file was absent
};

struct LibraryFree {
    uint32_t handle = 0;
    uint32_t result = 0;
};

class Modules {
public:
    static constexpr uint32_t kDefaultHostHandle = 0x00010000;  // where CE maps an executable
    static constexpr const char16_t* kDefaultHostPath = u"\\Windows\\app.exe";

    Modules(FileSystem& files, HandleLedger& handles);

    void setHost(const std::u16string& path);
    uint32_t hostHandle() const { return hostHandle_; }
    const std::u16string& hostPath() const { return hostPath_; }
    // The module under test, named for GetModuleHandleW/GetModuleFileNameW.
    void setSelf(uint32_t handle, const std::u16string& path);

    // The path behind a module handle (host, module under test or loaded library).
    std::optional<std::u16string> pathOf(uint32_t handle) const;
    // Loaded libraries with their reference counts.
    std::map<uint32_t, std::pair<std::u16string, uint32_t>> loaded() const;
    const std::vector<LibraryLoad>& loads() const { return loads_; }
    const std::vector<LibraryFree>& frees() const { return frees_; }
    size_t freeCount(uint32_t handle) const;

    // For the handlers.
    uint32_t load(const std::u16string& path);  // 0 when absent
    bool free(uint32_t handle);
    std::optional<uint32_t> handleNamed(const std::u16string& name) const;
    void noteFree(LibraryFree f) { frees_.push_back(f); }

private:
    struct Library {
        std::u16string path;
        uint32_t references = 0;
    };
    FileSystem& files_;
    HandleLedger& handles_;
    uint32_t hostHandle_ = kDefaultHostHandle;
    std::u16string hostPath_ = kDefaultHostPath;
    uint32_t selfHandle_ = 0;
    std::u16string selfPath_;
    std::map<uint32_t, Library> libraries_;
    std::vector<LibraryLoad> loads_;
    std::vector<LibraryFree> frees_;
};

void defineModules(FakeCoredll& fake);

}  // namespace bench
