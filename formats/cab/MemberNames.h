// Names of an installation CAB's members: eight characters taken from the
// file's own name, a point, and the file's id as three decimal digits. Only
// the digits identify a member; the installer never sees the rest.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cab {

// ".005" for id 5.
std::string memberExtension(uint16_t id);

// "0000APP.005" for app.exe, "VELMAR~1.001" for VELMARK_support.dll: the
// letters, digits, '_' and '-' of the name before its last point; up to eight
// of them are padded on the left with '0', more are cut to six and "~1" added.
std::string memberName(const std::string& fileName, uint16_t id);

// The id in a member's name, or nothing when it does not end with a point
// and three digits.
std::optional<uint16_t> memberId(const std::string& memberName);

}  // namespace cab
