// A strict reader for an image's resource directory: the three levels of
// types, names or identifiers, and languages down to the data entries. Every
// structure is checked against the directory and the file before use; a
// malformed directory raises PeFormatError naming the offset that is wrong.
#pragma once

#include "formats/pe/PeFormat.h"
#include "formats/pe/PeImage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pe {

struct ResourceName {
    uint16_t id = 0;
    std::u16string name;
    bool isId() const { return name.empty(); }
};

struct Resource {
    ResourceName type;
    ResourceName name;
    uint16_t language = 0;
    uint32_t dataRva = 0;
    uint32_t size = 0;
    uint32_t codePage = 0;
};

// Every leaf of the image's resource directory (types, names/ids, languages),
// in directory order; empty when the image has none. A malformed directory
// throws PeFormatError naming the offset. Each directory table may be
// reached only once and the names the leaves carry are held to a multiple of
// the section's size, so the result never outgrows the file.
std::vector<Resource> readResources(const Image& image);

// The resource's bytes as they lie in the file.
std::vector<uint8_t> resourceBytes(const Image& image, const Resource& resource);

// "#6" for an identifier, the name itself otherwise (anything but printable
// ASCII as "?", so a name from a file never drives the terminal).
std::string describe(const ResourceName& name);

}  // namespace pe
