#include "formats/cab/MemberNames.h"

#include <cctype>
#include <cstdio>

namespace cab {

std::string memberExtension(uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, ".%03u", unsigned(id % 1000));
    return text;
}

std::string memberName(const std::string& fileName, uint16_t id) {
    const std::string stem = fileName.substr(0, fileName.rfind('.'));
    std::string kept;
    for (unsigned char c : stem)
        if (std::isalnum(c) || c == '_' || c == '-') kept += char(c);
    if (kept.size() > 8) {
        kept.resize(6);
        for (char& c : kept) c = char(std::toupper(static_cast<unsigned char>(c)));
        kept += "~1";
    }
    return std::string(8 - kept.size(), '0') + kept + memberExtension(id);
}

std::optional<uint16_t> memberId(const std::string& memberName) {
    const size_t n = memberName.size();
    if (n < 4 || memberName[n - 4] != '.') return std::nullopt;
    uint16_t id = 0;
    for (size_t i = n - 3; i < n; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(memberName[i]))) return std::nullopt;
        id = uint16_t(id * 10 + (memberName[i] - '0'));
    }
    return id;
}

}  // namespace cab
