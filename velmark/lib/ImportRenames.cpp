#include "velmark/lib/ImportRenames.h"

#include "formats/common/Hex.h"
#include "formats/common/Printable.h"
#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeFormat.h"
#include "velmark/lib/ImageOffsets.h"

#include <algorithm>

namespace velmark::cli {

ImportRenaming renameImports(pe::Image& image, const ImportRename& rename) {
    using namespace pe::format;
    struct Change {
        uint32_t offset;
        RenamedImport renamed;
    };
    std::vector<Change> changes;
    for (size_t d = 0; d < image.imports.size(); ++d) {
        std::string_view old = image.imports[d].dllName;
        std::optional<std::string> renamed = rename(old);
        if (!renamed) continue;
        const uint32_t descriptor = image.directories[pe::kDirImport].rva + uint32_t(d) * kImportDescriptorSize;
        if (renamed->size() != old.size())
            throw RetargetRefused("import " + printable(old) + " cannot be renamed " + printable(*renamed) +
                                  " in place: the names differ in length");
        if (uint32_t stamp = image.read32(descriptor + kIdTimeDateStamp))
            throw RetargetRefused("import descriptor " + std::to_string(d) + " (" + printable(old) +
                                  ") is bound (TimeDateStamp " + velmark::hex(stamp) +
                                  "): its IAT holds that library's addresses; relink the image unbound");
        uint32_t offset = image.fileOffsetAt(image.read32(descriptor + kIdName), uint32_t(old.size()));
        // Copied before the bytes change: two descriptors may share one name.
        changes.push_back({offset, {d, std::string(old), *renamed}});
    }
    if (changes.empty()) return {};
    const uint32_t checksumAt = checksumFieldOffset(image);
    const uint32_t stored = pe::loadLe32(image.file.data() + checksumAt);
    const bool checksumValid = stored != 0 && stored == peChecksum(image.file, checksumAt);
    ImportRenaming result;
    for (const Change& c : changes) {
        std::copy(c.renamed.to.begin(), c.renamed.to.end(), image.file.begin() + c.offset);
        result.renamed.push_back(c.renamed);
    }
    if (checksumValid) pe::storeLe32(image.file.data() + checksumAt, peChecksum(image.file, checksumAt));
    result.checksumUpdated = checksumValid;
    return result;
}

}  // namespace velmark::cli
