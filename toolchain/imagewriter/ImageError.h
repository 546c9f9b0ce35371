// The one error the image writer raises: a message that names the input file
// and the structure at fault. Nothing is written when it is thrown.
#pragma once

#include "formats/common/Hex.h"
#include "formats/common/Problems.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace imagewriter {

class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using velmark::hex;

// Every problem of one check, raised together as one ImageError. A broken
// link can fail every one of 1675 exports; the first 40 say why.
class Problems : public velmark::Problems<ImageError> {
public:
    explicit Problems(std::string path) : velmark::Problems<ImageError>(std::move(path), 40) {}
};

}  // namespace imagewriter
