// The exception table (.pdata) of a Windows CE ARM image: listed entry by
// entry and checked as the platform's unwinder relies on it.
#pragma once

#include "formats/pe/PeImage.h"

#include <ostream>
#include <string>
#include <vector>

namespace velmark::imagecheck {

// Writes the table's entries; returns what is wrong with it: entries out of
// order or overlapping, outside executable sections, prologs longer than
// their functions or not of a documented form, ARM code without the 32-bit
// flag. An image without the table gives one line and no problem.
std::vector<std::string> writeExceptionTable(std::ostream& out, const pe::Image& image);

}  // namespace velmark::imagecheck
