#include "ImageError.h"

#include <sstream>

namespace imagewriter {

std::string hex(uint64_t value) {
    std::ostringstream out;
    out << "0x" << std::hex << std::uppercase << value;
    return out.str();
}

}  // namespace imagewriter
