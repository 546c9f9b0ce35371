#include "formats/cab/InstallDescriptor.h"

#include "formats/common/Hex.h"

namespace cab {

const char* processorName(uint32_t processor) {
    static const struct {
        uint32_t type;
        const char* name;
    } kNames[] = {
        {0, "any processor"},  {103, "SHx SH3"},      {104, "SHx SH4"},       {386, "Intel 386"},
        {486, "Intel 486"},    {586, "Intel Pentium"}, {601, "PowerPC 601"},   {603, "PowerPC 603"},
        {604, "PowerPC 604"},  {620, "PowerPC 620"},   {821, "Motorola 821"},  {1824, "ARM 720"},
        {2080, "ARM 820"},     {2336, "ARM 920"},      {2577, "StrongARM"},    {4000, "MIPS R4000"},
        {10003, "Hitachi SH3"}, {10004, "Hitachi SH3E"}, {10005, "Hitachi SH4"}, {21064, "Alpha 21064"},
        {70001, "ARM 7TDMI"},
    };
    for (const auto& entry : kNames)
        if (entry.type == processor) return entry.name;
    return nullptr;
}

const char* rootName(uint16_t root) {
    static const char* const kRoots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};
    return root >= kHiveClassesRoot && root <= kHiveUsers ? kRoots[root - 1] : nullptr;
}

RegistryValue dwordValue(uint16_t id, uint16_t keyId, std::string name, uint32_t value) {
    RegistryValue v;
    v.id = id;
    v.keyId = keyId;
    v.flags = kRegistryDword;
    v.name = std::move(name);
    for (int shift = 0; shift < 32; shift += 8) v.data.push_back(uint8_t(value >> shift));
    return v;
}

RegistryValue stringValue(uint16_t id, uint16_t keyId, std::string name, const std::string& value) {
    RegistryValue v;
    v.id = id;
    v.keyId = keyId;
    v.flags = kRegistryString;
    v.name = std::move(name);
    v.data.assign(value.begin(), value.end());
    v.data.push_back(0);
    return v;
}

FormatError::FormatError(std::string member, uint64_t offset, const std::string& reason)
    : std::runtime_error((member.empty() ? "" : member + ": ") + "offset " + velmark::hex(offset) + ": " + reason),
      member_(std::move(member)),
      offset_(offset),
      reason_(reason) {}

}  // namespace cab
