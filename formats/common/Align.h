// Rounding sizes and addresses up to an alignment (a section, file or page unit).
#pragma once

#include <cstdint>

namespace velmark {

constexpr uint32_t alignUp(uint32_t value, uint32_t unit) { return (value + unit - 1) / unit * unit; }

}  // namespace velmark
