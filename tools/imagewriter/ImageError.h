// The one error the image writer raises: a message that names the input file
// and the structure at fault. Nothing is written when it is thrown.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace imagewriter {

class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "0x1A2B", the form every message gives addresses in.
std::string hex(uint64_t value);

}  // namespace imagewriter
