#include "toolchain/imagewriter/ImportDirectory.h"

#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeFormat.h"
#include "toolchain/imagewriter/ImageError.h"

#include <cstring>

namespace imagewriter {
namespace {

// The Windows CE loader keeps imported DLL names in a 32-character buffer.
constexpr size_t kMaxDllName = 32;
constexpr uint32_t kDescriptorCount = 2;  // the library's and the null one

}  // namespace

ImportDirectory::ImportDirectory(std::vector<velmark::ImportEntry> imports, std::string dllName, uint32_t iatRva)
    : imports_(std::move(imports)), dllName_(std::move(dllName)), iatRva_(iatRva) {
    using namespace pe::format;
    if (dllName_.empty() || dllName_.size() > kMaxDllName)
        throw ImageError("import directory: DLL name '" + dllName_ + "' must have 1 to 32 characters");
    lookupOffset_ = kDescriptorCount * kImportDescriptorSize;
    uint32_t offset = lookupOffset_ + 4 * uint32_t(imports_.size() + 1);
    for (const velmark::ImportEntry& import : imports_) {
        hintNameOffsets_.push_back(offset);
        if (!import.byName) continue;
        // Hint/name entries start on an even address, so each is padded to even length.
        offset += kHintSize + uint32_t(import.name.size()) + 1;
        offset += offset % 2;
    }
    dllNameOffset_ = offset;
    size_ = dllNameOffset_ + uint32_t(dllName_.size()) + 1;
}

uint32_t ImportDirectory::descriptorsSize() const {
    return kDescriptorCount * pe::format::kImportDescriptorSize;
}

std::vector<uint32_t> ImportDirectory::lookupEntries(uint32_t rva) const {
    std::vector<uint32_t> entries;
    for (size_t i = 0; i < imports_.size(); ++i)
        entries.push_back(imports_[i].byName ? rva + hintNameOffsets_[i]
                                             : pe::format::kImportByOrdinal | imports_[i].ordinal);
    entries.push_back(0);
    return entries;
}

std::vector<uint8_t> ImportDirectory::bytes(uint32_t rva) const {
    using namespace pe::format;
    std::vector<uint8_t> out(size_);
    uint8_t* d = out.data();
    pe::storeLe32(d + kIdOriginalFirstThunk, rva + lookupOffset_);
    pe::storeLe32(d + kIdName, rva + dllNameOffset_);
    pe::storeLe32(d + kIdFirstThunk, iatRva_);
    // The second descriptor stays zero: the terminator.

    std::vector<uint32_t> lookup = lookupEntries(rva);
    for (size_t i = 0; i < lookup.size(); ++i) pe::storeLe32(d + lookupOffset_ + 4 * i, lookup[i]);
    for (size_t i = 0; i < imports_.size(); ++i) {
        if (!imports_[i].byName) continue;
        // Hint 0: COREDLL's name table index is not known here; the loader
        // falls back to searching by name.
        pe::storeLe16(d + hintNameOffsets_[i], 0);
        std::memcpy(d + hintNameOffsets_[i] + kHintSize, imports_[i].name.c_str(), imports_[i].name.size() + 1);
    }
    std::memcpy(d + dllNameOffset_, dllName_.c_str(), dllName_.size() + 1);
    return out;
}

}  // namespace imagewriter
