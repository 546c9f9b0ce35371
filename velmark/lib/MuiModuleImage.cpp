#include "velmark/lib/MuiModuleImage.h"

#include "formats/common/Align.h"
#include "formats/resources/ImageFile.h"
#include "formats/resources/ResourceDirectory.h"

namespace velmark::cli {

std::vector<uint8_t> writeModuleImage(uint32_t base, std::vector<uint8_t> hostData, std::vector<pe::Resource> leaves,
                                      const OwnResources& own) {
    const uint32_t hostSize = uint32_t(hostData.size());
    const uint32_t rsrc = velmark::alignUp(base + hostSize, mui::kPage);
    // The directory's size does not depend on the RVAs it holds.
    const uint32_t dataRva = rsrc + uint32_t(mui::writeResourceDirectory(leaves).size());
    for (size_t i : own.leaves) leaves[i].dataRva += dataRva;
    std::vector<uint8_t> section = mui::writeResourceDirectory(leaves);
    const uint32_t directorySize = uint32_t(section.size());
    section.insert(section.end(), own.data.begin(), own.data.end());

    mui::ImageContents contents;
    if (base > mui::kPage)
        contents.sections.push_back({".bss", mui::kPage, base - mui::kPage,
                                     pe::kSectionUninitializedData | pe::kSectionRead, {}});
    contents.sections.push_back({".rdata", base, hostSize, pe::kSectionInitializedData | pe::kSectionRead,
                                 std::move(hostData)});
    const uint32_t size = uint32_t(section.size());
    contents.sections.push_back({".rsrc", rsrc, size, pe::kSectionInitializedData | pe::kSectionRead, std::move(section)});
    contents.directories[pe::kDirResource] = {rsrc, directorySize};
    return mui::writeImageFile(contents);
}

}  // namespace velmark::cli
