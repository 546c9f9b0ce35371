#include "formats/cab/DescriptorReader.h"

#include "formats/cab/DescriptorLayout.h"
#include "formats/cab/MemberNames.h"
#include "formats/common/Hex.h"
#include "formats/pe/ByteOrder.h"

#include <map>

namespace cab {
namespace {

using velmark::hex;

class Reader {
public:
    Reader(const uint8_t* data, size_t size, const std::string& member) : data_(data), size_(size), member_(member) {}

    [[noreturn]] void fail(size_t offset, const std::string& reason) const { throw FormatError(member_, offset, reason); }

    // `n` bytes at `offset` for `what`, or a refusal saying they run past the end.
    const uint8_t* at(size_t offset, size_t n, const std::string& what) const {
        if (offset > size_ || n > size_ - offset)
            fail(offset, what + " (" + std::to_string(n) + " bytes) runs past the end of the file (" +
                             std::to_string(size_) + " bytes)");
        return data_ + offset;
    }
    uint16_t u16(size_t offset, const std::string& what) const { return pe::loadLe16(at(offset, 2, what)); }
    uint32_t u32(size_t offset, const std::string& what) const { return pe::loadLe32(at(offset, 4, what)); }

    // The text of `length` bytes at `offset`: up to its first NUL, which may
    // be followed by more NULs but nothing else.
    std::string text(size_t offset, size_t length, const std::string& what, bool nulRequired) const {
        const uint8_t* bytes = at(offset, length, what);
        size_t end = 0;
        while (end < length && bytes[end] != 0) ++end;
        if (end == length && nulRequired) fail(offset, what + " has no terminating NUL within its " +
                                                           std::to_string(length) + " bytes");
        for (size_t i = end; i < length; ++i)
            if (bytes[i] != 0) fail(offset + i, what + " has bytes after its terminating NUL");
        return std::string(reinterpret_cast<const char*>(bytes), end);
    }

    size_t size() const { return size_; }

private:
    const uint8_t* data_;
    size_t size_;
    const std::string& member_;
};

// Where each id of one table was first given, to refuse it given twice.
class Ids {
public:
    explicit Ids(const char* table) : table_(table) {}
    void add(const Reader& r, uint16_t id, size_t offset) {
        auto [it, added] = first_.try_emplace(id, offset);
        if (!added)
            r.fail(offset, std::string(table_) + " id " + std::to_string(id) + " is given twice (first at offset " +
                               hex(it->second) + ")");
    }
    bool has(uint16_t id) const { return first_.count(id) != 0; }

private:
    const char* table_;
    std::map<uint16_t, size_t> first_;
};

class DescriptorParser {
public:
    DescriptorParser(const uint8_t* data, size_t size, const std::string& member, const std::set<uint16_t>* memberIds)
        : r_(data, size, member), memberIds_(memberIds) {}

    InstallDescriptor parse() {
        using namespace layout;
        r_.at(0, kHeaderSize, "the header");
        if (r_.u32(kSignature, "") != kSignatureValue) r_.fail(kSignature, "no \"MSCE\" signature");
        if (r_.u32(kFileLength, "") != r_.size())
            r_.fail(kFileLength, "the header gives the file's length as " + std::to_string(r_.u32(kFileLength, "")) +
                                     " bytes, the file has " + std::to_string(r_.size()));
        d_.processor = r_.u32(kProcessor, "");
        d_.minVersion = {r_.u32(kMinMajor, ""), r_.u32(kMinMinor, ""), r_.u32(kMinBuild, "")};
        d_.maxVersion = {r_.u32(kMaxMajor, ""), r_.u32(kMaxMinor, ""), r_.u32(kMaxBuild, "")};
        d_.appName = headerString(kAppName, "the application name");
        d_.provider = headerString(kProvider, "the provider");
        unsupportedPlatforms();

        forEachEntry(kStrings, "string", [this](size_t at) { return stringEntry(at); });
        forEachEntry(kDirectories, "folder", [this](size_t at) { return directoryEntry(at); });
        forEachEntry(kFiles, "file", [this](size_t at) { return fileEntry(at); });
        forEachEntry(kKeys, "registry key", [this](size_t at) { return keyEntry(at); });
        forEachEntry(kValues, "registry value", [this](size_t at) { return valueEntry(at); });
        forEachEntry(kShortcuts, "shortcut", [this](size_t at) { return shortcutEntry(at); });
        return std::move(d_);
    }

private:
    std::string headerString(uint32_t field, const std::string& what) {
        const uint16_t offset = r_.u16(field, ""), length = r_.u16(field + 2, "");
        if (length == 0) r_.fail(field + 2, what + " has no bytes, not even its NUL");
        return r_.text(offset, length, what, true);
    }

    // NUL-terminated names ending with an empty one, then only NULs.
    void unsupportedPlatforms() {
        const uint16_t offset = r_.u16(layout::kUnsupported, ""), length = r_.u16(layout::kUnsupported + 2, "");
        const uint8_t* bytes = r_.at(offset, length, "the unsupported platforms");
        size_t pos = 0;
        while (pos < length && bytes[pos] != 0) {
            size_t end = pos;
            while (end < length && bytes[end] != 0) ++end;
            if (end == length) r_.fail(offset + pos, "an unsupported platform's name has no terminating NUL");
            d_.unsupportedPlatforms.emplace_back(reinterpret_cast<const char*>(bytes + pos), end - pos);
            pos = end + 1;
        }
        if (length && pos == length) r_.fail(offset + length, "the unsupported platforms lack their closing empty name");
        for (; pos < length; ++pos)
            if (bytes[pos] != 0) r_.fail(offset + pos, "bytes after the unsupported platforms' closing empty name");
    }

    // Reads the section's entries one after another; `entry` returns where
    // the next one starts.
    template <typename Entry>
    void forEachEntry(layout::Section section, const std::string& what, Entry entry) {
        const uint16_t count = r_.u16(layout::kCounts + 2 * section, "");
        size_t at = r_.u32(layout::kSectionOffsets + 4 * section, "");
        for (uint16_t i = 0; i < count; ++i) {
            r_.at(at, 0, what + " entry " + std::to_string(i));
            at = entry(at);
        }
    }

    // A 16-bit length and that many bytes of string ids ending with 0; the
    // path's texts. `terminatorOptional` for shortcut names.
    Path path(size_t at, const std::string& what, bool terminatorOptional, size_t& next) {
        const uint16_t length = r_.u16(at, what + "'s length");
        const uint8_t* ids = r_.at(at + 2, length, what);
        next = at + 2 + length;
        if (length % 2) r_.fail(at, what + " has an odd length (" + std::to_string(length) + " bytes)");
        Path parts;
        for (size_t i = 0; i < length; i += 2) {
            const uint16_t id = pe::loadLe16(ids + i);
            if (id == 0) {
                if (i + 2 != length) r_.fail(at + 2 + i, what + " has a 0 before its end");
                return parts;
            }
            auto text = strings_.find(id);
            if (text == strings_.end()) r_.fail(at + 2 + i, what + " names string " + std::to_string(id) + ", which is not in the strings");
            parts.push_back(text->second);
        }
        if (!terminatorOptional) r_.fail(at + 2 + length, what + " does not end with 0");
        return parts;
    }

    size_t stringEntry(size_t at) {
        const uint16_t id = r_.u16(at, "a string's id");
        if (id == 0) r_.fail(at, "string id 0, which a path cannot name (0 ends a path)");
        stringIds_.add(r_, id, at);
        const uint16_t length = r_.u16(at + 2, "string " + std::to_string(id) + "'s length");
        strings_[id] = r_.text(at + 4, length, "string " + std::to_string(id), false);
        return at + 4 + length;
    }

    size_t directoryEntry(size_t at) {
        Directory dir;
        dir.id = r_.u16(at, "a folder's id");
        directoryIds_.add(r_, dir.id, at);
        size_t next;
        dir.path = path(at + 2, "folder " + std::to_string(dir.id) + "'s path", false, next);
        if (dir.path.empty()) r_.fail(at, "folder " + std::to_string(dir.id) + " has an empty path");
        d_.directories.push_back(std::move(dir));
        return next;
    }

    size_t fileEntry(size_t at) {
        InstalledFile file;
        file.id = r_.u16(at, "a file's id");
        const std::string what = "file " + std::to_string(file.id);
        if (file.id == kDescriptorMember || file.id >= kSetupDllMember)
            r_.fail(at, what + ": a file id is a cabinet member's extension from 001 to 998");
        fileIds_.add(r_, file.id, at);
        if (memberIds_ && !memberIds_->count(file.id))
            r_.fail(at, what + " has no cabinet member with the extension " + memberExtension(file.id));
        file.directoryId = r_.u16(at + 2, what + "'s folder");
        if (!directoryIds_.has(file.directoryId))
            r_.fail(at + 2, what + " goes to folder " + std::to_string(file.directoryId) + ", which is not in the folders");
        file.flags = r_.u32(at + 6, what + "'s flags");
        const uint16_t length = r_.u16(at + 10, what + "'s name length");
        file.name = r_.text(at + 12, length, what + "'s name", true);
        if (file.name.empty()) r_.fail(at + 12, what + " has an empty name");
        d_.files.push_back(std::move(file));
        return at + 12 + length;
    }

    size_t keyEntry(size_t at) {
        RegistryKey key;
        key.id = r_.u16(at, "a registry key's id");
        const std::string what = "registry key " + std::to_string(key.id);
        keyIds_.add(r_, key.id, at);
        key.root = r_.u16(at + 2, what + "'s root");
        if (key.root < kHiveClassesRoot || key.root > kHiveUsers)
            r_.fail(at + 2, what + " has root " + std::to_string(key.root) + " (1 to 4 name HKCR, HKCU, HKLM, HKU)");
        size_t next;
        key.path = path(at + 6, what + "'s path", false, next);
        d_.keys.push_back(std::move(key));
        return next;
    }

    size_t valueEntry(size_t at) {
        RegistryValue value;
        value.id = r_.u16(at, "a registry value's id");
        const std::string what = "registry value " + std::to_string(value.id);
        valueIds_.add(r_, value.id, at);
        value.keyId = r_.u16(at + 2, what + "'s key");
        if (!keyIds_.has(value.keyId))
            r_.fail(at + 2, what + " is in key " + std::to_string(value.keyId) + ", which is not in the registry keys");
        const uint16_t substitute = r_.u16(at + 4, what + "'s substitution");
        if (substitute > 1) r_.fail(at + 4, what + "'s substitution is " + std::to_string(substitute) + ", not 0 or 1");
        value.substitute = substitute == 1;
        value.flags = r_.u32(at + 6, what + "'s type");
        const uint16_t length = r_.u16(at + 10, what + "'s length");
        const uint8_t* bytes = r_.at(at + 12, length, what);
        size_t nameEnd = 0;
        while (nameEnd < length && bytes[nameEnd] != 0) ++nameEnd;
        if (nameEnd == length) r_.fail(at + 12, what + "'s name has no terminating NUL");
        value.name.assign(reinterpret_cast<const char*>(bytes), nameEnd);
        value.data.assign(bytes + nameEnd + 1, bytes + length);
        checkValueData(value, at + 12 + nameEnd + 1, what);
        d_.values.push_back(std::move(value));
        return at + 12 + length;
    }

    void checkValueData(const RegistryValue& value, size_t at, const std::string& what) {
        const std::vector<uint8_t>& data = value.data;
        switch (value.type()) {
            case kRegistryDword:
                if (data.size() != 4)
                    r_.fail(at, what + " is a DWORD of " + std::to_string(data.size()) + " bytes, not 4");
                break;
            case kRegistryString:
                r_.text(at, data.size(), what + "'s string", true);
                break;
            case kRegistryMultiString: {
                // Strings, each with its NUL, and an empty one closing the list.
                size_t pos = 0;
                while (pos < data.size() && data[pos] != 0) {
                    while (pos < data.size() && data[pos] != 0) ++pos;
                    ++pos;
                }
                if (pos >= data.size()) r_.fail(at, what + "'s strings lack their closing empty string");
                r_.text(at + pos, data.size() - pos, what + "'s closing empty string", true);
                break;
            }
            default:  // binary: any bytes
                break;
        }
    }

    size_t shortcutEntry(size_t at) {
        Shortcut link;
        link.id = r_.u16(at, "a shortcut's id");
        const std::string what = "shortcut " + std::to_string(link.id);
        shortcutIds_.add(r_, link.id, at);
        link.baseDirectory = r_.u16(at + 4, what + "'s folder");
        if (link.baseDirectory > kLastCeDirectory)
            r_.fail(at + 4, what + "'s folder is " + std::to_string(link.baseDirectory) +
                                ": 0 (the install folder) or 1 to 17 (%CE1% to %CE17%)");
        link.targetId = r_.u16(at + 6, what + "'s target");
        const uint16_t type = r_.u16(at + 8, what + "'s target type");
        if (type > 1) r_.fail(at + 8, what + "'s target type is " + std::to_string(type) + ", not 0 (folder) or 1 (file)");
        link.targetIsFile = type == 1;
        if (link.targetIsFile ? !fileIds_.has(link.targetId)
                              : link.targetId != 0 && !directoryIds_.has(link.targetId))
            r_.fail(at + 6, what + " points at " + (link.targetIsFile ? "file " : "folder ") +
                                std::to_string(link.targetId) + ", which is not in the descriptor");
        size_t next;
        link.name = path(at + 10, what + "'s name", true, next);
        if (link.name.empty()) r_.fail(at + 10, what + " has an empty name");
        d_.shortcuts.push_back(std::move(link));
        return next;
    }

    Reader r_;
    const std::set<uint16_t>* memberIds_;
    InstallDescriptor d_;
    std::map<uint16_t, std::string> strings_;
    Ids stringIds_{"string"}, directoryIds_{"folder"}, fileIds_{"file"}, keyIds_{"registry key"},
        valueIds_{"registry value"}, shortcutIds_{"shortcut"};
};

}  // namespace

InstallDescriptor readInstallDescriptor(const uint8_t* data, size_t size, const std::string& member,
                                        const std::set<uint16_t>* memberIds) {
    return DescriptorParser(data, size, member, memberIds).parse();
}

}  // namespace cab
