#include "formats/bitmap/DibHeader.h"

#include "formats/pe/ByteOrder.h"

namespace bitmap {

uint64_t DibHeader::colorTableEntries() const {
    if (colorsUsed) return colorsUsed;
    return bitCount <= 8 ? uint64_t(1) << bitCount : 0;
}

uint64_t DibHeader::pixelOffset() const {
    // Three colour masks follow a 40-byte header with BI_BITFIELDS.
    const uint64_t masks = headerSize == kInfoHeaderSize && compression == kBiBitFields ? 12 : 0;
    return uint64_t(headerSize) + masks + 4 * colorTableEntries();
}

std::optional<DibHeader> readDibHeader(const uint8_t* data, size_t size) {
    if (size < kInfoHeaderSize) return std::nullopt;
    DibHeader h;
    h.headerSize = pe::loadLe32(data);
    if (h.headerSize < kInfoHeaderSize) return std::nullopt;
    h.width = int32_t(pe::loadLe32(data + 4));
    h.height = int32_t(pe::loadLe32(data + 8));
    h.bitCount = pe::loadLe16(data + 14);
    h.compression = pe::loadLe32(data + 16);
    h.colorsUsed = pe::loadLe32(data + 32);
    return h;
}

}  // namespace bitmap
