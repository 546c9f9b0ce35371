// Fuzz target for the resource directory reader and the resource formats:
// the input is a .rsrc section at RVA 0x1000 of an otherwise sound image.
// The reader and the parsers may refuse it, but never read outside it (the
// address sanitizer watches), and every string, menu and dialog they accept
// is written back and must read back the same.
#include "formats/pe/PeImage.h"
#include "formats/pe/Resources.h"
#include "formats/resources/ImageFile.h"
#include "formats/resources/ResourceFormats.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 1 << 20) return 0;
    mui::ImageContents contents;
    contents.sections.push_back({".rsrc", 0x1000, uint32_t(size), 0x40000040, std::vector<uint8_t>(data, data + size)});
    contents.directories[pe::kDirResource] = {0x1000, uint32_t(size)};
    pe::Image image = pe::readImage(mui::writeImageFile(contents));
    std::vector<pe::Resource> leaves;
    try {
        leaves = pe::readResources(image);
    } catch (const pe::PeFormatError&) {
        return 0;
    }
    for (const pe::Resource& r : leaves) {
        if (!r.type.isId()) continue;
        std::vector<uint8_t> bytes = pe::resourceBytes(image, r);
        try {
            if (r.type.id == mui::kRtString) {
                mui::StringBlock block = mui::parseStringBlock(bytes);
                if (mui::parseStringBlock(mui::writeStringBlock(block)) != block) std::abort();
            } else if (r.type.id == mui::kRtMenu) {
                std::vector<uint8_t> written = mui::writeMenu(mui::parseMenu(bytes));
                if (mui::writeMenu(mui::parseMenu(written)) != written) std::abort();
            } else if (r.type.id == mui::kRtDialog) {
                std::vector<uint8_t> written = mui::writeDialog(mui::parseDialog(bytes));
                if (mui::writeDialog(mui::parseDialog(written)) != written) std::abort();
            }
        } catch (const mui::ResourceFormatError&) {
        }
    }
    return 0;
}
