#include "toolchain/imagewriter/Layout.h"

#include "formats/common/Align.h"
#include "formats/pe/PeFormat.h"
#include "formats/pe/PeImage.h"
#include "toolchain/imagewriter/ImageError.h"

#include <algorithm>

namespace imagewriter {
namespace {

enum class Kind { Code, ReadOnly, Data };

struct KindInfo {
    const char* name;
    const char* description;
    uint32_t characteristics;
};

KindInfo infoOf(Kind kind) {
    switch (kind) {
    case Kind::Code:
        return {".text", "code", pe::kSectionCode | pe::kSectionExecute | pe::kSectionRead};
    case Kind::ReadOnly:
        return {".rdata", "read-only data", pe::kSectionInitializedData | pe::kSectionRead};
    case Kind::Data:
        return {".data", "writable data", pe::kSectionInitializedData | pe::kSectionRead | pe::kSectionWrite};
    }
    return {};
}

std::string typeName(uint32_t type) {
    switch (type) {
    case SHT_INIT_ARRAY: return "SHT_INIT_ARRAY";
    case SHT_FINI_ARRAY: return "SHT_FINI_ARRAY";
    case SHT_PREINIT_ARRAY: return "SHT_PREINIT_ARRAY";
    case SHT_NOTE: return "SHT_NOTE";
    case SHT_ARM_EXIDX: return "SHT_ARM_EXIDX";
    case SHT_DYNAMIC: return "SHT_DYNAMIC";
    case SHT_DYNSYM: return "SHT_DYNSYM";
    case SHT_HASH: return "SHT_HASH";
    default: return "type " + std::to_string(type);
    }
}

// The allocated sections with contents or extent, in address order, each
// checked for a known type and an address inside the image's range.
std::vector<const ElfSection*> allocatedSections(const ElfFile& elf) {
    std::vector<const ElfSection*> found;
    const uint64_t low = uint64_t(kImageBase) + kSectionAlignment;  // page 0 holds the headers
    const uint64_t high = uint64_t(kImageBase) + kImageSizeLimit;
    for (const ElfSection& s : elf.sections()) {
        if (!s.allocated() || s.size == 0) continue;
        std::string label = "allocated section " + s.name;
        if (s.type != SHT_PROGBITS && s.type != SHT_NOBITS)
            throw ImageError(elf.path() + ": " + label + " has " + typeName(s.type) +
                             ", which the image writer does not know how to place");
        if (s.address < low || s.end() > high)
            throw ImageError(elf.path() + ": " + label + " at " + hex(s.address) + "-" + hex(s.end()) +
                             " lies outside the image's range " + hex(low) + "-" + hex(high));
        found.push_back(&s);
    }
    std::sort(found.begin(), found.end(),
              [](const ElfSection* a, const ElfSection* b) { return a->address < b->address; });
    for (size_t i = 1; i < found.size(); ++i)
        if (found[i]->address < found[i - 1]->end())
            throw ImageError(elf.path() + ": sections " + found[i - 1]->name + " and " + found[i]->name + " overlap");
    return found;
}

Kind kindOf(const ElfFile& elf, const ElfSection& s) {
    if (s.executable()) {
        if (s.type == SHT_NOBITS)
            throw ImageError(elf.path() + ": code section " + s.name + " has no contents (SHT_NOBITS)");
        return Kind::Code;
    }
    if (s.writable()) return Kind::Data;
    if (s.type == SHT_NOBITS)
        throw ImageError(elf.path() + ": read-only section " + s.name + " has no contents (SHT_NOBITS)");
    return Kind::ReadOnly;
}

}  // namespace

ImageLayout ImageLayout::fromElf(const ElfFile& elf) {
    ImageLayout layout;
    layout.path_ = elf.path();
    std::vector<Kind> kinds;
    for (const ElfSection* s : allocatedSections(elf)) {
        Kind kind = kindOf(elf, *s);
        uint32_t rva = s->address - kImageBase;
        if (kinds.empty() || kinds.back() != kind) {
            if (std::find(kinds.begin(), kinds.end(), kind) != kinds.end())
                throw ImageError(elf.path() + ": section " + s->name + " (" + infoOf(kind).description +
                                 ") is separated from the other sections of its kind");
            uint32_t start = alignDown(rva, kSectionAlignment);
            if (!layout.sections_.empty() && start < velmark::alignUp(uint32_t(layout.sections_.back().end()), kSectionAlignment))
                throw ImageError(elf.path() + ": section " + s->name + " (" + infoOf(kind).description +
                                 ") shares a 4 KB page with the section before it; the linker script must "
                                 "start each kind of section on a new page");
            OutputSection out;
            out.name = infoOf(kind).name;
            out.characteristics = infoOf(kind).characteristics;
            out.rva = start;
            layout.sections_.push_back(out);
            kinds.push_back(kind);
        }
        OutputSection& out = layout.sections_.back();
        out.elfSections.push_back(s->index);
        out.virtualSize = uint32_t(s->end() - kImageBase) - out.rva;
        if (s->type == SHT_PROGBITS) out.dataSize = out.virtualSize;
    }
    for (OutputSection& out : layout.sections_)
        if (out.dataSize == 0)  // .bss alone
            out.characteristics = pe::kSectionUninitializedData | pe::kSectionRead | pe::kSectionWrite;
    return layout;
}

void ImageLayout::append(const std::string& name, uint32_t characteristics, uint32_t size) {
    OutputSection out;
    out.name = name;
    out.characteristics = characteristics;
    out.rva = sections_.empty() ? kSectionAlignment
                                : velmark::alignUp(uint32_t(sections_.back().end()), kSectionAlignment);
    out.virtualSize = size;
    out.dataSize = size;
    if (uint64_t(out.rva) + size > kImageSizeLimit)
        throw ImageError(path_ + ": section " + name + " would end beyond the " + hex(kImageSizeLimit) +
                         "-byte image limit");
    sections_.push_back(out);
}

void ImageLayout::assignFileOffsets() {
    headersSize_ = pe::ceHeadersSize(sections_.size());
    if (!sections_.empty() && headersSize_ > sections_.front().rva)
        throw ImageError(path_ + ": " + std::to_string(headersSize_) + " bytes of headers do not fit below the "
                         "first section at RVA " + hex(sections_.front().rva));
    uint32_t offset = headersSize_;
    for (OutputSection& out : sections_) {
        out.rawSize = velmark::alignUp(out.dataSize, kFileAlignment);
        out.fileOffset = out.rawSize ? offset : 0;
        offset += out.rawSize;
    }
    fileSize_ = offset;
    imageSize_ = sections_.empty() ? headersSize_
                                   : velmark::alignUp(uint32_t(sections_.back().end()), kSectionAlignment);
}

const OutputSection* ImageLayout::find(const std::string& name) const {
    for (const OutputSection& out : sections_)
        if (out.name == name) return &out;
    return nullptr;
}

const OutputSection* ImageLayout::sectionAt(uint32_t rva) const {
    for (const OutputSection& out : sections_)
        if (rva >= out.rva && rva - out.rva < out.virtualSize) return &out;
    return nullptr;
}

}  // namespace imagewriter
