// Room for translated dialogs: the host's resources laid out again in a new
// last section, each dialog followed by room for its texts to grow, and the
// resource data directory pointing there. A language module keeps every
// resource at the host's offset, so only room in the host lets a longer
// translation take the template's place.
//
// The original resource section stays where it was, byte for byte. The new
// section's directory is followed by a record of the header fields the
// layout changed and of the file's length, so that the original image can be
// given back exactly.
#pragma once

#include "formats/pe/PeImage.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmark::cli {

constexpr unsigned kDefaultDialogRoomPercent = 100;
constexpr const char* kRoomSectionName = ".rsroom";

struct RoomLayout {
    std::vector<uint8_t> file;
    uint32_t sectionRva = 0, sectionSize = 0;
    size_t resources = 0, dialogs = 0;
    std::vector<std::string> notes;  // dialogs given no room, and why
};

// Throws RetargetRefused for an image without resources, one already laid
// out with room, or one whose headers hold no room for one more section
// header. A valid checksum is kept valid.
RoomLayout layOutWithRoom(const pe::Image& image, unsigned percent);

// Whether the image's resources lie in a section laid out with room.
bool hasDialogRoom(const pe::Image& image);

// The image as it was before layOutWithRoom, or nothing when it has no room.
// Throws RetargetRefused when the record does not match the image.
std::optional<std::vector<uint8_t>> withoutDialogRoom(const pe::Image& image);

}  // namespace velmark::cli
