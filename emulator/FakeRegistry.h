// Registry: keys under HKEY_LOCAL_MACHINE with typed values.
// Honours: a zero result means success; RegQueryValueExW copies at most the
// caller's byte count, fails with ERROR_MORE_DATA (234) when the value is
// larger and ERROR_FILE_NOT_FOUND (2) when it is absent, and always reports
// the value's actual size.
#pragma once

#include "emulator/Handles.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bench {

class FakeCoredll;

constexpr uint32_t HKEY_LOCAL_MACHINE = 0x80000002;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;

struct RegistryValue {
    uint32_t type = REG_BINARY;
    std::vector<uint8_t> data;
};

// A REG_DWORD value, little-endian.
RegistryValue dwordValue(uint32_t value);
// UTF-16 text as REG_SZ, with its terminator unless told otherwise.
RegistryValue stringValue(const std::u16string& text, bool terminated = true);

struct RegistryOpen {
    std::u16string path;   // full path under HKEY_LOCAL_MACHINE, as given
    uint32_t options = 0;
    uint32_t access = 0;   // the access mask asked for
    uint32_t result = 0;
    uint32_t handle = 0;   // 0 when the open failed
};

struct RegistryQuery {
    uint32_t key = 0;
    std::u16string valueName;
    std::optional<uint32_t> capacity;  // the byte count given, if a count pointer was given
    uint32_t result = 0;
};

class Registry {
public:
    explicit Registry(HandleLedger& handles) : handles_(handles) {}

    // Paths are relative to HKEY_LOCAL_MACHINE, "\\"-separated, case-insensitive.
    void addKey(const std::u16string& path);
    void setValue(const std::u16string& key, const std::u16string& name, RegistryValue value);
    void setDword(const std::u16string& key, const std::u16string& name, uint32_t value);
    // Stored with its zero terminator, as RegSetValueExW would.
    void setString(const std::u16string& key, const std::u16string& name, const std::u16string& text);
    void removeValue(const std::u16string& key, const std::u16string& name);
    void removeKey(const std::u16string& path);
    bool hasKey(const std::u16string& path) const;

    const std::vector<RegistryOpen>& opens() const { return opens_; }
    const std::vector<RegistryQuery>& queries() const { return queries_; }

    // For the handlers.
    HandleLedger& handles() { return handles_; }
    std::optional<std::u16string> pathOf(uint32_t key) const;  // HKLM itself gives ""
    std::optional<std::u16string> resolve(uint32_t parent, const std::u16string& subKey) const;
    const RegistryValue* find(const std::u16string& key, const std::u16string& name) const;
    void noteOpen(RegistryOpen open) { opens_.push_back(std::move(open)); }
    void noteQuery(RegistryQuery query) { queries_.push_back(std::move(query)); }
    void bindKey(uint32_t handle, const std::u16string& path) { openKeys_[handle] = path; }
    void unbindKey(uint32_t handle) { openKeys_.erase(handle); }

private:
    struct Key {
        std::map<std::u16string, RegistryValue> values;  // by folded name
    };
    HandleLedger& handles_;
    std::map<std::u16string, Key> keys_;  // by folded path
    std::map<uint32_t, std::u16string> openKeys_;
    std::vector<RegistryOpen> opens_;
    std::vector<RegistryQuery> queries_;
};

void defineRegistry(FakeCoredll& fake);

}  // namespace bench
