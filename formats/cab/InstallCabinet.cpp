#include "formats/cab/InstallCabinet.h"

#include "formats/cab/DescriptorReader.h"
#include "formats/cab/DescriptorWriter.h"
#include "formats/cab/MemberNames.h"

#include <algorithm>
#include <set>

namespace cab {

std::vector<uint8_t> writeInstallCabinet(const InstallDescriptor& descriptor,
                                         const std::map<uint16_t, FileContent>& contents) {
    std::vector<CabinetMember> members(1);
    std::vector<InstalledFile> files = descriptor.files;
    std::sort(files.begin(), files.end(), [](const InstalledFile& a, const InstalledFile& b) { return a.id > b.id; });
    int64_t newest = 0;
    for (const InstalledFile& file : files) {
        if (file.id == kDescriptorMember || file.id >= kSetupDllMember)
            throw UnwritableContent("file " + file.name + ": id " + std::to_string(file.id) + " is not from 1 to 998");
        auto content = contents.find(file.id);
        if (content == contents.end()) throw UnwritableContent("file " + file.name + " has no content");
        members.push_back({memberName(file.name, file.id), content->second.bytes, content->second.modified});
        newest = std::max(newest, content->second.modified);
    }
    for (const auto& [id, content] : contents)
        if (std::none_of(files.begin(), files.end(), [id = id](const InstalledFile& f) { return f.id == id; }))
            throw UnwritableContent("content " + std::to_string(id) + " belongs to no file of the descriptor");
    members[0] = {memberName(descriptor.appName, kDescriptorMember), writeInstallDescriptor(descriptor), newest};
    return writeCabinet(members);
}

InstallCabinet readInstallCabinet(const uint8_t* data, size_t size) {
    std::vector<CabinetMember> members = readCabinet(data, size);
    InstallCabinet result;
    std::map<uint16_t, CabinetMember*> byId;
    std::set<uint16_t> ids;
    for (CabinetMember& member : members) {
        const std::optional<uint16_t> id = memberId(member.name);
        if (!id) throw FormatError("", member.entryOffset, "member " + member.name + " does not end in a point and three digits");
        auto [it, added] = byId.try_emplace(*id, &member);
        if (!added)
            throw FormatError("", member.entryOffset, "members " + it->second->name + " and " + member.name +
                                                          " have the same extension");
        ids.insert(*id);
    }
    auto descriptor = byId.find(kDescriptorMember);
    if (descriptor == byId.end()) throw FormatError("", 0, "no install descriptor: no member ends in .000");
    const CabinetMember& descriptorMember = *descriptor->second;
    result.descriptorMember = descriptorMember.name;
    result.descriptor = readInstallDescriptor(descriptorMember.bytes.data(), descriptorMember.bytes.size(),
                                              descriptorMember.name, &ids);
    for (const InstalledFile& file : result.descriptor.files) result.files[file.id] = std::move(*byId[file.id]);
    if (auto setup = byId.find(kSetupDllMember); setup != byId.end()) result.setupDll = std::move(*setup->second);
    for (const auto& [id, member] : byId)
        if (id != kDescriptorMember && id != kSetupDllMember && !result.files.count(id))
            throw FormatError("", member->entryOffset, "member " + member->name + " is no file of the install descriptor");
    return result;
}

}  // namespace cab
