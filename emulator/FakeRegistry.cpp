#include "emulator/FakeRegistry.h"

#include "emulator/Fake.h"
#include "emulator/Utf16.h"

namespace bench {
namespace {

std::u16string join(const std::u16string& parent, const std::u16string& sub) {
    if (parent.empty()) return sub;
    if (sub.empty()) return parent;
    return parent + u"\\" + sub;
}

std::u16string trimSeparators(std::u16string path) {
    while (!path.empty() && path.front() == u'\\') path.erase(path.begin());
    while (!path.empty() && path.back() == u'\\') path.pop_back();
    return path;
}

}  // namespace

void Registry::addKey(const std::u16string& path) {
    // Parents exist whenever a child does, as in the real registry.
    std::u16string clean = trimSeparators(path);
    for (size_t at = 0;; ++at) {
        at = clean.find(u'\\', at);
        keys_[fold(clean.substr(0, at))];
        if (at == std::u16string::npos) break;
    }
}

void Registry::setValue(const std::u16string& key, const std::u16string& name, RegistryValue value) {
    addKey(key);
    keys_[fold(trimSeparators(key))].values[fold(name)] = std::move(value);
}

RegistryValue dwordValue(uint32_t value) {
    return {REG_DWORD, {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)}};
}

RegistryValue stringValue(const std::u16string& text, bool terminated) {
    RegistryValue value{REG_SZ, {}};
    for (char16_t c : terminated ? text + u'\0' : text) {
        value.data.push_back(uint8_t(c));
        value.data.push_back(uint8_t(c >> 8));
    }
    return value;
}

void Registry::setDword(const std::u16string& key, const std::u16string& name, uint32_t value) {
    setValue(key, name, dwordValue(value));
}

void Registry::setString(const std::u16string& key, const std::u16string& name, const std::u16string& text) {
    setValue(key, name, stringValue(text));
}

void Registry::removeValue(const std::u16string& key, const std::u16string& name) {
    auto it = keys_.find(fold(trimSeparators(key)));
    if (it != keys_.end()) it->second.values.erase(fold(name));
}

void Registry::removeKey(const std::u16string& path) {
    std::u16string folded = fold(trimSeparators(path));
    for (auto it = keys_.begin(); it != keys_.end();) {
        bool inside = it->first == folded || it->first.rfind(folded + u"\\", 0) == 0;
        it = inside ? keys_.erase(it) : std::next(it);
    }
}

bool Registry::hasKey(const std::u16string& path) const {
    std::u16string folded = fold(trimSeparators(path));
    return folded.empty() || keys_.count(folded) != 0;  // "" is HKEY_LOCAL_MACHINE itself
}

std::optional<std::u16string> Registry::pathOf(uint32_t key) const {
    if (key == HKEY_LOCAL_MACHINE) return std::u16string();
    auto it = openKeys_.find(key);
    if (it == openKeys_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::u16string> Registry::resolve(uint32_t parent, const std::u16string& subKey) const {
    std::optional<std::u16string> base = pathOf(parent);
    if (!base) return std::nullopt;
    return join(*base, trimSeparators(subKey));
}

const RegistryValue* Registry::find(const std::u16string& key, const std::u16string& name) const {
    auto k = keys_.find(fold(key));
    if (k == keys_.end()) return nullptr;
    auto v = k->second.values.find(fold(name));
    return v == k->second.values.end() ? nullptr : &v->second;
}

void defineRegistry(FakeCoredll& fake) {
    Registry& registry = fake.registry();
    Memory& memory = fake.memory();

    // RegOpenKeyExW(hKey, lpSubKey, ulOptions, samDesired, phkResult)
    fake.define("RegOpenKeyExW", 5, Outcome::returns(ERROR_FILE_NOT_FOUND),
                [&registry, &memory](CallContext& call) -> uint32_t {
        uint32_t parent = call.arg(0), subKeyPtr = call.arg(1), out = call.arg(4);
        std::u16string subKey = subKeyPtr ? memory.readWString(subKeyPtr) : u"";
        RegistryOpen open{subKey, call.arg(2), call.arg(3), 0, 0};
        std::optional<std::u16string> path = registry.resolve(parent, subKey);
        if (path) open.path = *path;
        if (!path) open.result = ERROR_INVALID_HANDLE;
        else if (!registry.hasKey(*path)) open.result = ERROR_FILE_NOT_FOUND;
        else if (!out) open.result = ERROR_INVALID_PARAMETER;
        if (open.result == 0) {
            open.handle = registry.handles().acquire(HandleKind::RegistryKey, "HKLM\\" + narrow(*path));
            registry.bindKey(open.handle, *path);
            memory.write32(out, open.handle);
        }
        registry.noteOpen(open);
        return open.result;
    });

    // RegQueryValueExW(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData)
    fake.define("RegQueryValueExW", 6, Outcome::returns(ERROR_FILE_NOT_FOUND),
                [&registry, &memory](CallContext& call) -> uint32_t {
        uint32_t key = call.arg(0), namePtr = call.arg(1), typeOut = call.arg(3);
        uint32_t data = call.arg(4), countPtr = call.arg(5);
        RegistryQuery query{key, namePtr ? memory.readWString(namePtr) : u"", std::nullopt, 0};
        if (countPtr) query.capacity = memory.read32(countPtr);
        auto finish = [&](uint32_t result) {
            query.result = result;
            registry.noteQuery(query);
            return result;
        };
        std::optional<std::u16string> path = registry.pathOf(key);
        if (!path) return finish(ERROR_INVALID_HANDLE);
        const RegistryValue* value = registry.find(*path, query.valueName);
        if (!value) return finish(ERROR_FILE_NOT_FOUND);
        if (data && !countPtr) return finish(ERROR_INVALID_PARAMETER);
        uint32_t size = uint32_t(value->data.size());
        if (typeOut) memory.write32(typeOut, value->type);
        if (data && size > *query.capacity) {
            memory.write32(countPtr, size);
            return finish(ERROR_MORE_DATA);
        }
        if (data) memory.write(data, value->data.data(), size);
        if (countPtr) memory.write32(countPtr, size);
        return finish(ERROR_SUCCESS);
    });

    // RegCloseKey(hKey)
    fake.define("RegCloseKey", 1, Outcome::returns(ERROR_INVALID_HANDLE),
                [&registry](CallContext& call) -> uint32_t {
        uint32_t key = call.arg(0);
        if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
        if (!registry.handles().release(key, HandleKind::RegistryKey)) return ERROR_INVALID_HANDLE;
        registry.unbindKey(key);
        return ERROR_SUCCESS;
    });
}

}  // namespace bench
