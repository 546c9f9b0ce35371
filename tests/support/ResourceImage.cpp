#include "tests/support/ResourceImage.h"

#include "formats/common/Align.h"
#include "formats/common/Hex.h"
#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeImage.h"
#include "formats/resources/ImageFile.h"
#include "formats/resources/ResourceDirectory.h"
#include "formats/resources/ResourceFormats.h"

namespace mui {
namespace {

pe::ResourceName readResName(const std::vector<uint8_t>& b, size_t& pos, size_t end, size_t headerStart) {
    auto fail = [&] {
        throw ResourceFormatError(".res file: resource header at offset " + velmark::hex(headerStart) +
                                  " has a type or name running past the header");
    };
    pe::ResourceName name;
    if (pos + 2 > end) fail();
    uint16_t first = pe::loadLe16(&b[pos]);
    if (first == 0xFFFF) {
        if (pos + 4 > end) fail();
        name.id = pe::loadLe16(&b[pos + 2]);
        pos += 4;
        return name;
    }
    for (;;) {
        if (pos + 2 > end) fail();
        char16_t c = char16_t(pe::loadLe16(&b[pos]));
        pos += 2;
        if (!c) break;
        name.name.push_back(c);
    }
    return name;
}

}  // namespace

std::vector<ResourceData> parseResFile(const std::vector<uint8_t>& b) {
    std::vector<ResourceData> out;
    size_t pos = 0;
    while (pos + 8 <= b.size()) {
        size_t start = pos;
        uint32_t dataSize = pe::loadLe32(&b[pos]);
        uint32_t headerSize = pe::loadLe32(&b[pos + 4]);
        if (headerSize < 16 || headerSize > b.size() - pos || dataSize > b.size() - pos - headerSize) {
            throw ResourceFormatError(".res file: resource at offset " + velmark::hex(pos) +
                                      " runs past the end of the file");
        }
        size_t headerEnd = pos + headerSize;
        pos += 8;
        ResourceData r;
        r.type = readResName(b, pos, headerEnd, start);
        r.name = readResName(b, pos, headerEnd, start);
        pos = (pos + 3) & ~size_t(3);
        if (pos + 16 > headerEnd) throw ResourceFormatError(".res file: resource header at offset " + std::to_string(start) + " is too short");
        r.language = pe::loadLe16(&b[pos + 6]);
        r.bytes.assign(b.begin() + long(headerEnd), b.begin() + long(headerEnd + dataSize));
        // The first entry of a .res file is an empty marker (type 0).
        if (!(r.type.isId() && r.type.id == 0)) out.push_back(std::move(r));
        pos = (headerEnd + dataSize + 3) & ~size_t(3);
    }
    return out;
}

std::vector<uint8_t> writeResourceSection(const std::vector<ResourceData>& resources, uint32_t rva) {
    std::vector<pe::Resource> leaves;
    for (const ResourceData& r : resources) {
        pe::Resource leaf;
        leaf.type = r.type;
        leaf.name = r.name;
        leaf.language = r.language;
        leaf.size = uint32_t(r.bytes.size());
        leaves.push_back(leaf);
    }
    uint32_t dataStart = uint32_t(writeResourceDirectory(leaves).size());
    std::vector<uint8_t> data;
    for (size_t i = 0; i < resources.size(); ++i) {
        leaves[i].dataRva = rva + dataStart + uint32_t(data.size());
        data.insert(data.end(), resources[i].bytes.begin(), resources[i].bytes.end());
        while (data.size() % 4) data.push_back(0);
    }
    std::vector<uint8_t> section = writeResourceDirectory(leaves);
    section.insert(section.end(), data.begin(), data.end());
    return section;
}

std::vector<uint8_t> writeApplicationImage(const std::vector<ResourceData>& resources, uint32_t codeSize) {
    ImageContents contents;
    contents.characteristics = 0x010F;  // executable, relocations stripped, 32-bit
    contents.imageBase = 0x10000;
    uint32_t rsrcRva = kPage + velmark::alignUp(codeSize, kPage);
    contents.entryPoint = kPage;
    contents.sections.push_back({".text", kPage, codeSize, pe::kSectionCode | pe::kSectionExecute | pe::kSectionRead,
                             std::vector<uint8_t>(codeSize)});
    std::vector<uint8_t> rsrc = writeResourceSection(resources, rsrcRva);
    uint32_t size = uint32_t(rsrc.size());
    contents.sections.push_back({".rsrc", rsrcRva, size, pe::kSectionInitializedData | pe::kSectionRead, std::move(rsrc)});
    contents.directories[pe::kDirResource] = {rsrcRva, size};
    return writeImageFile(contents);
}

}  // namespace mui
