#include "formats/cab/DescriptorWriter.h"

#include "formats/cab/DescriptorLayout.h"
#include "formats/pe/ByteOrder.h"

#include <map>

namespace cab {
namespace {

constexpr size_t kMax16 = 0xFFFF;

void checkText(const std::string& text, const std::string& what) {
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7E) throw UnwritableContent(what + " \"" + text + "\" is not printable ASCII");
}

uint16_t fit16(size_t value, const std::string& what) {
    if (value > kMax16)
        throw UnwritableContent(what + " (" + std::to_string(value) + ") is past the format's 16-bit limit of 65535");
    return uint16_t(value);
}

class Bytes {
public:
    void u16(uint16_t v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)}); }
    void u32(uint32_t v) {
        u16(uint16_t(v));
        u16(uint16_t(v >> 16));
    }
    void text(const std::string& s) {  // with its NUL
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
    }
    void append(const std::vector<uint8_t>& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }
    std::vector<uint8_t> out;
};

// Path components by id, each text once.
class StringTable {
public:
    // The component ids of `path` followed by the terminating 0, as bytes.
    std::vector<uint8_t> pathIds(const Path& path, const std::string& what) {
        Bytes ids;
        for (const std::string& part : path) {
            if (part.empty() || part.find('\\') != std::string::npos)
                throw UnwritableContent(what + ": path component \"" + part + "\" is empty or holds a backslash");
            checkText(part, what);
            auto [it, added] = ids_.try_emplace(part, uint16_t(texts_.size() + 1));
            if (added) {
                if (texts_.size() == kMax16 - 1) throw UnwritableContent("more than 65534 distinct path components");
                texts_.push_back(part);
            }
            ids.u16(it->second);
        }
        ids.u16(0);
        return ids.out;
    }

    size_t size() const { return texts_.size(); }

    std::vector<uint8_t> section() const {
        Bytes b;
        for (size_t i = 0; i < texts_.size(); ++i) {
            b.u16(uint16_t(i + 1));
            b.u16(fit16(texts_[i].size() + 1, "the length of path component \"" + texts_[i] + "\""));
            b.text(texts_[i]);
        }
        return b.out;
    }

private:
    std::map<std::string, uint16_t> ids_;
    std::vector<std::string> texts_;
};

// A section's entries and their count.
struct Entries {
    Bytes bytes;
    size_t count = 0;
};

void addLengthAndBytes(Bytes& b, const std::vector<uint8_t>& bytes, const std::string& what) {
    b.u16(fit16(bytes.size(), what));
    b.append(bytes);
}

Entries directories(const InstallDescriptor& d, StringTable& strings) {
    Entries s;
    for (const Directory& dir : d.directories) {
        const std::string what = "folder " + std::to_string(dir.id);
        s.bytes.u16(dir.id);
        addLengthAndBytes(s.bytes, strings.pathIds(dir.path, what), "the length of " + what);
    }
    s.count = d.directories.size();
    return s;
}

Entries files(const InstallDescriptor& d) {
    Entries s;
    for (const InstalledFile& f : d.files) {
        checkText(f.name, "file name");
        s.bytes.u16(f.id);
        s.bytes.u16(f.directoryId);
        s.bytes.u16(f.id);  // of unknown purpose; installers write the file's id
        s.bytes.u32(f.flags);
        s.bytes.u16(fit16(f.name.size() + 1, "the length of file name \"" + f.name + "\""));
        s.bytes.text(f.name);
    }
    s.count = d.files.size();
    return s;
}

Entries keys(const InstallDescriptor& d, StringTable& strings) {
    Entries s;
    for (const RegistryKey& key : d.keys) {
        const std::string what = "registry key " + std::to_string(key.id);
        s.bytes.u16(key.id);
        s.bytes.u16(key.root);
        s.bytes.u16(0);
        addLengthAndBytes(s.bytes, strings.pathIds(key.path, what), "the length of " + what);
    }
    s.count = d.keys.size();
    return s;
}

Entries values(const InstallDescriptor& d) {
    Entries s;
    for (const RegistryValue& v : d.values) {
        checkText(v.name, "registry value name");
        s.bytes.u16(v.id);
        s.bytes.u16(v.keyId);
        s.bytes.u16(v.substitute ? 1 : 0);
        s.bytes.u32(v.flags);
        Bytes entry;
        entry.text(v.name);
        entry.append(v.data);
        addLengthAndBytes(s.bytes, entry.out, "the length of registry value \"" + v.name + "\"");
    }
    s.count = d.values.size();
    return s;
}

Entries shortcuts(const InstallDescriptor& d, StringTable& strings) {
    Entries s;
    for (const Shortcut& link : d.shortcuts) {
        const std::string what = "shortcut " + std::to_string(link.id);
        s.bytes.u16(link.id);
        s.bytes.u16(0);
        s.bytes.u16(link.baseDirectory);
        s.bytes.u16(link.targetId);
        s.bytes.u16(link.targetIsFile ? 1 : 0);
        addLengthAndBytes(s.bytes, strings.pathIds(link.name, what), "the length of " + what);
    }
    s.count = d.shortcuts.size();
    return s;
}

}  // namespace

std::vector<uint8_t> writeInstallDescriptor(const InstallDescriptor& d) {
    using namespace layout;
    checkText(d.appName, "application name");
    checkText(d.provider, "provider");
    StringTable strings;
    Entries sections[kSectionCount];
    sections[kDirectories] = directories(d, strings);
    sections[kFiles] = files(d);
    sections[kKeys] = keys(d, strings);
    sections[kValues] = values(d);
    sections[kShortcuts] = shortcuts(d, strings);
    sections[kStrings].bytes.out = strings.section();
    sections[kStrings].count = strings.size();

    Bytes unsupported;
    for (const std::string& platform : d.unsupportedPlatforms) {
        checkText(platform, "unsupported platform");
        unsupported.text(platform);
    }
    if (!unsupported.out.empty()) unsupported.out.push_back(0);

    std::vector<uint8_t> file(kHeaderSize, 0);
    // The header's three strings come first: their offsets have 16 bits.
    auto addHeaderString = [&](uint32_t field, const std::vector<uint8_t>& bytes, const std::string& what) {
        pe::storeLe16(&file[field], fit16(file.size(), "the offset of " + what));
        pe::storeLe16(&file[field + 2], fit16(bytes.size(), "the length of " + what));
        file.insert(file.end(), bytes.begin(), bytes.end());
    };
    Bytes appName, provider;
    appName.text(d.appName);
    provider.text(d.provider);
    addHeaderString(kAppName, appName.out, "the application name");
    addHeaderString(kProvider, provider.out, "the provider");
    addHeaderString(kUnsupported, unsupported.out, "the unsupported platforms");

    for (int i = 0; i < kSectionCount; ++i) {
        pe::storeLe16(&file[kCounts + 2 * i], fit16(sections[i].count, "the number of entries of a table"));
        pe::storeLe32(&file[kSectionOffsets + 4 * i], uint32_t(file.size()));
        file.insert(file.end(), sections[i].bytes.out.begin(), sections[i].bytes.out.end());
    }
    pe::storeLe32(&file[kSignature], kSignatureValue);
    pe::storeLe32(&file[kFileLength], uint32_t(file.size()));
    pe::storeLe32(&file[kUsuallyOne], 1);
    pe::storeLe32(&file[kProcessor], d.processor);
    pe::storeLe32(&file[kMinMajor], d.minVersion.major);
    pe::storeLe32(&file[kMinMinor], d.minVersion.minor);
    pe::storeLe32(&file[kMaxMajor], d.maxVersion.major);
    pe::storeLe32(&file[kMaxMinor], d.maxVersion.minor);
    pe::storeLe32(&file[kMinBuild], d.minVersion.build);
    pe::storeLe32(&file[kMaxBuild], d.maxVersion.build);
    return file;
}

}  // namespace cab
