// Writes a resource directory (type, name and language tables, names and
// data entries) for leaves whose data already has its place in the image.
#pragma once

#include "formats/pe/Resources.h"

#include <cstdint>
#include <vector>

namespace mui {

// The directory's bytes (offsets inside it are relative to its start). Entries are sorted
// as the platform's binary search expects: named entries first, by name, then
// identifiers in ascending order; languages ascending.
std::vector<uint8_t> writeResourceDirectory(std::vector<pe::Resource> leaves);

// Stable order of two names, the one the directory tables use.
bool resourceNameLess(const pe::ResourceName& a, const pe::ResourceName& b);
bool sameResourceName(const pe::ResourceName& a, const pe::ResourceName& b);

}  // namespace mui
