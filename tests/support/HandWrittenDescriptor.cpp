#include "tests/support/HandWrittenDescriptor.h"

#include <string>
#include <tuple>
#include <utility>

namespace cabtest {
namespace {

void le16(std::vector<uint8_t>& b, uint16_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void le32(std::vector<uint8_t>& b, uint32_t v) {
    le16(b, uint16_t(v));
    le16(b, uint16_t(v >> 16));
}
void bytes(std::vector<uint8_t>& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    put16(b, at, uint16_t(v));
    put16(b, at + 2, uint16_t(v >> 16));
}

}  // namespace

HandWritten handWrittenDescriptor(bool quirks) {
    HandWritten h;
    std::vector<uint8_t>& b = h.bytes;
    b.assign(100, 0);
    bytes(b, "Demo");
    b.push_back(0);  // APPNAME at 100, 5 bytes
    bytes(b, "Acme");
    b.push_back(0);  // PROVIDER at 105, 5 bytes
    bytes(b, std::string("HPC\0\0", 5));  // UNSUPPORTED at 110, 5 bytes

    h.strings = b.size();  // STRINGS: id, length, text
    const std::string pad = quirks ? std::string(3, '\0') : "";
    for (auto [id, text] : {std::pair<int, std::string>{1, "%CE1%"}, {2, "Demo"}, {3, "%CE2%"}, {4, "MUI"}}) {
        const std::string stored = text + std::string(1, '\0') + pad;
        le16(b, uint16_t(id));
        le16(b, uint16_t(stored.size()));
        bytes(b, stored);
    }
    if (quirks) {  // the shortcut's name without its NUL
        le16(b, 5);
        le16(b, 4);
        bytes(b, "Demo");
    }
    h.folders = b.size();  // DIRS: id, length, string ids ending with 0
    for (uint16_t v : {1, 6, 1, 2, 0, 2, 4, 3, 0}) le16(b, v);
    h.files = b.size();  // FILES: id, folder, id again, flags, name length, name
    for (uint16_t v : {1, 1, 1}) le16(b, v);
    le32(b, 0);
    le16(b, 9);
    bytes(b, std::string("demo.exe\0", 9));
    for (uint16_t v : {2, 2, 2}) le16(b, v);
    le32(b, 0x80000000);  // shared
    le16(b, 12);
    bytes(b, std::string("VELMARK.dll\0", 12));
    h.keys = b.size();  // REGHIVES: id, root (3: HKLM), 0, length, string ids
    for (uint16_t v : {1, 3, 0, 4, 4, 0}) le16(b, v);
    h.values = b.size();  // REGKEYS: id, hive, substitute, type, length, name and data
    for (uint16_t v : {1, 1, 0}) le16(b, v);
    le32(b, 0x00010001);  // DWORD
    le16(b, 11);
    bytes(b, std::string("Enable\0\1\0\0\0", 11));
    for (uint16_t v : {2, 1, 0}) le16(b, v);
    le32(b, 0);  // string
    le16(b, 12);
    bytes(b, std::string("SysLang\0" "407\0", 12));
    h.shortcuts = b.size();  // LINKS: id, 0, base (11: %CE11%), target, type (1: file), length, string ids
    for (uint16_t v : {1, 0, 11, 1, 1}) le16(b, v);
    if (quirks) {
        le16(b, 2);
        le16(b, 5);
    } else {
        for (uint16_t v : {4, 2, 0}) le16(b, v);
    }

    put32(b, 0, 0x4543534D);  // "MSCE"
    put32(b, 8, uint32_t(b.size()));
    put32(b, 16, 1);
    put32(b, 20, 2577);  // StrongARM
    put32(b, 24, 4);     // from CE 4.10
    put32(b, 28, 10);
    const uint16_t counts[] = {uint16_t(quirks ? 5 : 4), 2, 2, 1, 2, 1};
    const size_t offsets[] = {h.strings, h.folders, h.files, h.keys, h.values, h.shortcuts};
    for (int i = 0; i < 6; ++i) {
        put16(b, 48 + 2 * i, counts[i]);
        put32(b, 60 + 4 * i, uint32_t(offsets[i]));
    }
    for (auto [field, offset, length] : {std::tuple{84, 100, 5}, {88, 105, 5}, {92, 110, 5}}) {
        put16(b, field, uint16_t(offset));
        put16(b, field + 2, uint16_t(length));
    }
    return h;
}

cab::InstallDescriptor handWrittenContent() {
    cab::InstallDescriptor d;
    d.appName = "Demo";
    d.provider = "Acme";
    d.processor = cab::kProcessorStrongArm;
    d.minVersion = {4, 10, 0};
    d.unsupportedPlatforms = {"HPC"};
    d.directories = {{1, {"%CE1%", "Demo"}}, {2, {"%CE2%"}}};
    d.files = {{1, 1, 0, "demo.exe"}, {2, 2, cab::kFileShared, "VELMARK.dll"}};
    d.keys = {{1, cab::kHiveLocalMachine, {"MUI"}}};
    d.values = {cab::dwordValue(1, 1, "Enable", 1), cab::stringValue(2, 1, "SysLang", "407")};
    d.shortcuts = {{1, 11, 1, true, {"Demo"}}};
    return d;
}

// Every field, so that two descriptors compare by what they hold.
std::string fields(const cab::InstallDescriptor& d) {
    auto path = [](const cab::Path& p) {
        std::string s;
        for (const std::string& part : p) s += "/" + part;
        return s;
    };
    std::string s = d.appName + "|" + d.provider + "|" + std::to_string(d.processor);
    for (const cab::CeVersion& v : {d.minVersion, d.maxVersion})
        s += "|" + std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build);
    for (const std::string& p : d.unsupportedPlatforms) s += "|unsupported " + p;
    for (const cab::Directory& dir : d.directories) s += "|dir " + std::to_string(dir.id) + path(dir.path);
    for (const cab::InstalledFile& f : d.files)
        s += "|file " + std::to_string(f.id) + " " + std::to_string(f.directoryId) + " " + std::to_string(f.flags) +
             " " + f.name;
    for (const cab::RegistryKey& k : d.keys) s += "|key " + std::to_string(k.id) + " " + std::to_string(k.root) + path(k.path);
    for (const cab::RegistryValue& v : d.values)
        s += "|value " + std::to_string(v.id) + " " + std::to_string(v.keyId) + " " + std::to_string(v.substitute) +
             " " + std::to_string(v.flags) + " " + v.name + "=" + std::string(v.data.begin(), v.data.end());
    for (const cab::Shortcut& l : d.shortcuts)
        s += "|link " + std::to_string(l.id) + " " + std::to_string(l.baseDirectory) + " " +
             std::to_string(l.targetId) + " " + std::to_string(l.targetIsFile) + path(l.name);
    return s;
}

}  // namespace cabtest
