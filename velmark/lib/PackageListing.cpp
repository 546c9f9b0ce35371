#include "velmark/lib/PackageListing.h"

#include "formats/cab/DevicePaths.h"
#include "formats/common/Hex.h"
#include "formats/common/Printable.h"
#include "formats/pe/ByteOrder.h"
#include "velmark/lib/Failure.h"
#include "velmark/lib/FileIo.h"

#include <map>
#include <sstream>

namespace velmark::cli {
namespace {

std::string shown(const std::string& text) { return printable(text, 260); }

// Each component printable: a backslash inside one shows as \x5C.
cab::Path shownParts(const cab::Path& parts) {
    cab::Path out;
    for (const std::string& part : parts) out.push_back(shown(part));
    return out;
}

std::string path(const cab::Path& parts) {
    std::string joined;
    for (const std::string& part : shownParts(parts)) joined += (joined.empty() ? "" : "\\") + part;
    return joined;
}

std::string version(const cab::CeVersion& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + (v.build ? " build " + std::to_string(v.build) : "");
}

std::string versionLimits(const cab::InstallDescriptor& d) {
    const bool min = !(d.minVersion == cab::CeVersion{}), max = !(d.maxVersion == cab::CeVersion{});
    if (min && max) return version(d.minVersion) + " to " + version(d.maxVersion);
    if (min) return version(d.minVersion) + " or later";
    if (max) return "up to " + version(d.maxVersion);
    return "any version";
}

// The names of the flags set in `flags`, after its hex form.
std::string flagsText(uint32_t flags, std::initializer_list<std::pair<uint32_t, const char*>> names) {
    std::string text = hex(flags, 8);
    std::string named;
    for (auto [bit, name] : names)
        if (flags & bit) named += (named.empty() ? "" : ", ") + std::string(name);
    return named.empty() ? text : text + " (" + named + ")";
}

std::string fileFlags(uint32_t flags) {
    return flagsText(flags, {{cab::kFileShared, "shared"},
                             {cab::kFileIgnoreDate, "ignore date"},
                             {cab::kFileKeepNewer, "keep newer"},
                             {cab::kFileSelfRegister, "self-register"},
                             {cab::kFileReplaceOnly, "replace only"},
                             {cab::kFileNoOverwrite, "no overwrite"},
                             {cab::kFileNoSkip, "no skip"},
                             {cab::kFileWarnIfSkipped, "warn if skipped"}});
}

std::string valueData(const cab::RegistryValue& v) {
    const std::vector<uint8_t>& data = v.data;
    const std::string text(data.begin(), data.end());
    switch (v.type()) {
        case cab::kRegistryDword: {
            const uint32_t n = pe::loadLe32(data.data());  // the reader took exactly four bytes
            return "DWORD " + std::to_string(n) + " (" + hex(n, 8) + ")";
        }
        case cab::kRegistryString:
            return "string " + quoted(text.substr(0, text.find('\0')), 260);
        case cab::kRegistryMultiString: {
            std::string list;
            for (size_t pos = 0; pos < text.size() && text[pos] != 0; pos = text.find('\0', pos) + 1)
                list += (list.empty() ? "" : ", ") + quoted(text.substr(pos, text.find('\0', pos) - pos), 260);
            return "multi-string " + list;
        }
        default: {
            std::string bytes;
            for (size_t i = 0; i < data.size() && i < 32; ++i) bytes += " " + hex(data[i], 2).substr(2);
            return "binary " + std::to_string(data.size()) + " bytes" + (data.empty() ? "" : ":" + bytes) +
                   (data.size() > 32 ? " ..." : "");
        }
    }
}

}  // namespace

std::string describeInstallCabinet(const cab::InstallCabinet& cabinet) {
    const cab::InstallDescriptor& d = cabinet.descriptor;
    std::ostringstream out;
    out << "descriptor: " << shown(cabinet.descriptorMember) << "\n";
    out << "application: " << shown(d.appName) << "\n";
    out << "provider: " << shown(d.provider) << "\n";
    const char* processor = cab::processorName(d.processor);
    out << "processor: " << d.processor << " (" << (processor ? processor : "unknown") << ")\n";
    out << "Windows CE: " << versionLimits(d) << "\n";
    std::string unsupported;
    for (const std::string& platform : d.unsupportedPlatforms) unsupported += (unsupported.empty() ? "" : ", ") + quoted(platform);
    out << "unsupported platforms: " << (unsupported.empty() ? "none" : unsupported) << "\n";

    std::map<uint16_t, std::string> folders, files, keys;
    for (const cab::Directory& dir : d.directories) {
        folders[dir.id] = cab::devicePath(shownParts(dir.path));
        out << "folder " << dir.id << ": " << path(dir.path) << " (" << folders[dir.id] << ")\n";
    }
    for (const cab::InstalledFile& f : d.files) {
        files[f.id] = folders[f.directoryId] + "\\" + shown(f.name);
        const cab::CabinetMember& member = cabinet.files.at(f.id);
        out << "file " << f.id << ": " << files[f.id] << ", " << member.bytes.size() << " bytes, flags "
            << fileFlags(f.flags) << ", member " << shown(member.name) << "\n";
    }
    for (const cab::RegistryKey& key : d.keys) {
        keys[key.id] = std::string(cab::rootName(key.root)) + (key.path.empty() ? "" : "\\" + path(key.path));
        out << "registry key " << key.id << ": " << keys[key.id] << "\n";
    }
    for (const cab::RegistryValue& v : d.values) {
        std::string flags;
        if (v.flags & cab::kRegistryNoClobber) flags += ", kept if present";
        if (v.substitute) flags += ", folder macros expanded";
        out << "registry value " << v.id << ": " << keys[v.keyId] << "\\" << (v.name.empty() ? "(default)" : shown(v.name))
            << " = " << valueData(v) << flags << "\n";
    }
    for (const cab::Shortcut& link : d.shortcuts) {
        const std::string target = link.targetIsFile ? "file " + std::to_string(link.targetId) + " (" + files[link.targetId] + ")"
                                   : link.targetId == 0 ? "the install folder"
                                                        : "folder " + std::to_string(link.targetId) + " (" + folders[link.targetId] + ")";
        out << "shortcut " << link.id << ": " << cab::shortcutBase(link.baseDirectory) << "\\" << path(link.name)
            << ".lnk -> " << target << "\n";
    }
    out << "setup DLL: "
        << (cabinet.setupDll ? shown(cabinet.setupDll->name) + ", " + std::to_string(cabinet.setupDll->bytes.size()) + " bytes"
                             : "none")
        << "\n";
    return out.str();
}

cab::InstallCabinet readInstallCabinetFile(const std::string& path) {
    const std::vector<uint8_t> bytes = readWholeFile(path);
    try {
        return cab::readInstallCabinet(bytes.data(), bytes.size());
    } catch (const cab::FormatError& e) {
        throw Failure(path + ": " + e.what(), FailureKind::Unusable);
    }
}

}  // namespace velmark::cli
