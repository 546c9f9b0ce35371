#include "formats/cab/InstallDescriptor.h"

#include "formats/common/Hex.h"

namespace cab {

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
