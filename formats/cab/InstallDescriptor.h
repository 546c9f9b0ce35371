// The install descriptor of a Windows CE installation CAB (the cabinet's
// ".000" member, signature "MSCE"): what the device's installer copies where,
// the registry values it writes and the shortcuts it makes. Text is ASCII;
// folders, registry keys and shortcut names are lists of path components
// ({"%CE1%", "App"} for \Program Files\App). Entries refer to each other by
// their ids, as the file does.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace cab {

// Processor types the header names (a device refuses a package marked for
// another one; 0 means any).
constexpr uint32_t kProcessorAny = 0;
constexpr uint32_t kProcessorStrongArm = 2577;  // what ARM packages are marked with

// File flags.
constexpr uint32_t kFileWarnIfSkipped = 0x00000001;
constexpr uint32_t kFileNoSkip = 0x00000002;
constexpr uint32_t kFileNoOverwrite = 0x00000010;
constexpr uint32_t kFileReplaceOnly = 0x00000400;
constexpr uint32_t kFileSelfRegister = 0x10000000;
constexpr uint32_t kFileKeepNewer = 0x20000000;
constexpr uint32_t kFileIgnoreDate = 0x40000000;
constexpr uint32_t kFileShared = 0x80000000;  // reference-counted: removed with the last package using it

// Registry roots.
constexpr uint16_t kHiveClassesRoot = 1;
constexpr uint16_t kHiveCurrentUser = 2;
constexpr uint16_t kHiveLocalMachine = 3;
constexpr uint16_t kHiveUsers = 4;

// Registry value types (the bits under kRegistryTypeMask) and flags.
constexpr uint32_t kRegistryTypeMask = 0x00010001;
constexpr uint32_t kRegistryString = 0x00000000;
constexpr uint32_t kRegistryBinary = 0x00000001;
constexpr uint32_t kRegistryMultiString = 0x00010000;
constexpr uint32_t kRegistryDword = 0x00010001;
constexpr uint32_t kRegistryNoClobber = 0x00000002;  // an existing value is kept

constexpr uint16_t kShortcutInInstallDir = 0;  // Shortcut::baseDirectory; 1..17 name %CE1%..%CE17%
constexpr uint16_t kLastCeDirectory = 17;

// The first member of each file's cabinet name is chosen by the writer; the
// extension is the file's id, three decimal digits. These two are reserved.
constexpr uint16_t kDescriptorMember = 0;
constexpr uint16_t kSetupDllMember = 999;

using Path = std::vector<std::string>;

struct CeVersion {
    uint32_t major = 0;  // 0 everywhere: no limit
    uint32_t minor = 0;
    uint32_t build = 0;
    bool operator==(const CeVersion& o) const { return major == o.major && minor == o.minor && build == o.build; }
};

struct Directory {
    uint16_t id = 0;
    Path path;
};

struct InstalledFile {
    uint16_t id = 0;  // also its cabinet member's extension
    uint16_t directoryId = 0;
    uint32_t flags = 0;
    std::string name;
};

// A registry key (the format calls it a hive): a root and the path below it.
struct RegistryKey {
    uint16_t id = 0;
    uint16_t root = kHiveLocalMachine;
    Path path;
};

struct RegistryValue {
    uint16_t id = 0;
    uint16_t keyId = 0;
    bool substitute = false;  // %InstallDir% and %CEn% in the data are expanded on the device
    uint32_t flags = kRegistryString;
    std::string name;           // empty: the key's default value
    std::vector<uint8_t> data;  // as stored: a string with its NUL, four bytes for a DWORD

    uint32_t type() const { return flags & kRegistryTypeMask; }
};

struct Shortcut {
    uint16_t id = 0;
    uint16_t baseDirectory = kShortcutInInstallDir;
    uint16_t targetId = 0;  // a file id, or a directory id (0: the install folder)
    bool targetIsFile = true;
    Path name;  // below the base directory; the device adds ".lnk"
};

struct InstallDescriptor {
    std::string appName;
    std::string provider;
    uint32_t processor = kProcessorAny;
    CeVersion minVersion;
    CeVersion maxVersion;
    std::vector<std::string> unsupportedPlatforms;
    std::vector<Directory> directories;
    std::vector<InstalledFile> files;
    std::vector<RegistryKey> keys;
    std::vector<RegistryValue> values;
    std::vector<Shortcut> shortcuts;
};

// "StrongARM" for 2577; nullptr for a processor type the format's
// description does not list.
const char* processorName(uint32_t processor);
// "HKEY_LOCAL_MACHINE" for kHiveLocalMachine; nullptr outside 1 to 4.
const char* rootName(uint16_t root);

RegistryValue dwordValue(uint16_t id, uint16_t keyId, std::string name, uint32_t value);
RegistryValue stringValue(uint16_t id, uint16_t keyId, std::string name, const std::string& value);

// A structure of a cabinet or descriptor that cannot be read: `member` names
// the cabinet member it is in (empty: the cabinet itself), `offset` where in
// it, `reason` what is wrong.
class FormatError : public std::runtime_error {
public:
    FormatError(std::string member, uint64_t offset, const std::string& reason);
    const std::string& member() const { return member_; }
    uint64_t offset() const { return offset_; }
    const std::string& reason() const { return reason_; }

private:
    std::string member_;
    uint64_t offset_;
    std::string reason_;
};

// Content the format cannot hold (text that is not ASCII, a table past 65535
// entries); the message names the item.
class UnwritableContent : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace cab
