#include "velmark/lib/ImageOffsets.h"

#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeFormat.h"

namespace velmark::cli {

uint32_t checksumFieldOffset(const pe::Image& image) {
    using namespace pe::format;
    uint32_t peOffset = pe::loadLe32(image.file.data() + kDosNewHeaderField);
    return peOffset + kPeSignatureSize + kFileHeaderSize + kOhCheckSum;
}

uint32_t peChecksum(const std::vector<uint8_t>& file, uint32_t fieldOffset) {
    auto byteAt = [&](size_t i) -> uint32_t {
        if (i >= file.size() || (i >= fieldOffset && i < uint64_t(fieldOffset) + 4)) return 0;
        return file[i];
    };
    uint64_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        sum += byteAt(i) | (byteAt(i + 1) << 8);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t(sum + file.size());
}

}  // namespace velmark::cli
