#include "emulator/ImageResources.h"

#include "emulator/FakeResources.h"
#include "formats/bitmap/DibHeader.h"
#include "formats/pe/ByteOrder.h"

namespace bench {
namespace {

// The key of a directory entry's name, as resourceKey() makes it.
std::u16string resourceKeyOf(const pe::ResourceName& name) {
    return name.isId() ? resourceKey(name.id) : resourceKey(name.name);
}

}  // namespace

const pe::Resource* ImageResources::find(const std::u16string& typeKey, const std::u16string& nameKey) const {
    for (const pe::Resource& r : leaves)
        if (resourceKeyOf(r.type) == typeKey && resourceKeyOf(r.name) == nameKey) return &r;
    return nullptr;
}

std::vector<uint8_t> ImageResources::bytes(const Memory& memory, const pe::Resource& resource) const {
    return memory.readBytes(base + resource.dataRva, resource.size);
}

std::optional<ImageResources::StringRef> ImageResources::string(const Memory& memory, uint32_t id) const {
    const pe::Resource* block = find(resourceKey(mui::kRtString), resourceKey(mui::stringBlockId(id)));
    if (!block) return std::nullopt;
    std::vector<uint8_t> data = bytes(memory, *block);
    mui::StringBlock strings = mui::parseStringBlock(data);
    uint32_t offset = 0;
    for (uint32_t i = 0; i < id % mui::kStringsPerBlock; ++i) offset += 2 + 2 * uint32_t(strings[i].size());
    return StringRef{base + block->dataRva + offset + 2, strings[id % mui::kStringsPerBlock]};
}

std::optional<Surface> surfaceOfDib(const std::vector<uint8_t>& dib) {
    std::optional<bitmap::DibHeader> header = bitmap::readDibHeader(dib.data(), dib.size());
    if (!header || header->headerSize > dib.size()) return std::nullopt;
    int32_t width = header->width, height = header->height;
    const uint32_t bits = header->bitCount;
    bool topDown = height < 0;
    if (topDown) height = -height;
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096 || header->compression != bitmap::kBiRgb)
        return std::nullopt;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return std::nullopt;
    const uint64_t paletteSize = header->colorTableEntries();
    const uint64_t pixels = header->pixelOffset();
    size_t stride = ((size_t(width) * bits + 31) / 32) * 4;
    if ((bits <= 8 && paletteSize > 256) || pixels + stride * size_t(height) > dib.size()) return std::nullopt;
    Surface s = Surface::filled(width, height, 0);
    for (int y = 0; y < height; ++y) {
        size_t row = pixels + stride * size_t(topDown ? y : height - 1 - y);
        for (int x = 0; x < width; ++x) {
            uint32_t color;
            if (bits >= 24) {
                size_t at = row + size_t(x) * (bits / 8);
                color = uint32_t(dib[at]) | uint32_t(dib[at + 1]) << 8 | uint32_t(dib[at + 2]) << 16;
            } else {
                size_t bit = size_t(x) * bits;
                uint32_t index = (dib[row + bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                if (index >= paletteSize) return std::nullopt;
                color = pe::loadLe32(&dib[header->headerSize + 4 * index]) & 0xFFFFFF;
            }
            s.pixels[size_t(y) * size_t(width) + size_t(x)] = color;
        }
    }
    return s;
}

}  // namespace bench
