#include "toolchain/imagewriter/BaseRelocations.h"

#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeFormat.h"
#include "formats/pe/PeImage.h"
#include "toolchain/imagewriter/ImageError.h"
#include "toolchain/imagewriter/Layout.h"

#include <algorithm>

namespace imagewriter {
namespace {

std::string relocationName(uint32_t type) {
    switch (type) {
    case R_ARM_NONE: return "R_ARM_NONE";
    case R_ARM_PC24: return "R_ARM_PC24";
    case R_ARM_ABS32: return "R_ARM_ABS32";
    case R_ARM_REL32: return "R_ARM_REL32";
    case R_ARM_ABS16: return "R_ARM_ABS16";
    case R_ARM_ABS12: return "R_ARM_ABS12";
    case R_ARM_ABS8: return "R_ARM_ABS8";
    case R_ARM_THM_PC22: return "R_ARM_THM_CALL";
    case R_ARM_CALL: return "R_ARM_CALL";
    case R_ARM_JUMP24: return "R_ARM_JUMP24";
    case R_ARM_THM_JUMP24: return "R_ARM_THM_JUMP24";
    case R_ARM_TARGET1: return "R_ARM_TARGET1";
    case R_ARM_V4BX: return "R_ARM_V4BX";
    case R_ARM_TARGET2: return "R_ARM_TARGET2";
    case R_ARM_PREL31: return "R_ARM_PREL31";
    case R_ARM_MOVW_ABS_NC: return "R_ARM_MOVW_ABS_NC";
    case R_ARM_MOVT_ABS: return "R_ARM_MOVT_ABS";
    case R_ARM_THM_MOVW_ABS_NC: return "R_ARM_THM_MOVW_ABS_NC";
    case R_ARM_THM_MOVT_ABS: return "R_ARM_THM_MOVT_ABS";
    default: return "relocation type " + std::to_string(type);
    }
}

// Checks one R_ARM_ABS32 and returns the RVA of the word it fills.
uint32_t absoluteWord(const ElfFile& elf, const ElfSection& target, const ElfRelocationSection& relocations,
                      const ElfRelocation& r) {
    std::string where = elf.path() + ": R_ARM_ABS32 in " + relocations.name + " at " + hex(r.offset);
    if (target.type == SHT_NOBITS) throw ImageError(where + " applies to " + target.name + ", which has no contents");
    if (r.offset < target.address || uint64_t(r.offset) + 4 > target.end())
        throw ImageError(where + " lies outside its section " + target.name);
    // The loader adjusts the word with a word access, which faults on a
    // misaligned address on ARMv4.
    if (r.offset % 4) throw ImageError(where + " is not word-aligned");
    uint32_t value = pe::loadLe32(target.data.data() + (r.offset - target.address));
    if (value < kImageBase || uint64_t(value) > uint64_t(kImageBase) + kImageSizeLimit) {
        const std::string& symbol = elf.symbols()[r.symbolIndex].name;
        throw ImageError(where + " holds " + hex(value) + ", which is not an address inside the image" +
                         (symbol.empty() ? "" : " (symbol " + symbol + ")"));
    }
    return r.offset - kImageBase;
}

}  // namespace

std::vector<uint32_t> absoluteWordRvas(const ElfFile& elf) {
    std::vector<uint32_t> rvas;
    for (const ElfRelocationSection& relocations : elf.relocationSections()) {
        const ElfSection& target = elf.sections()[relocations.targetSection];
        if (!target.allocated()) continue;  // unwind tables and debug data never reach the image
        for (const ElfRelocation& r : relocations.entries) {
            switch (r.type) {
            case R_ARM_ABS32:
                rvas.push_back(absoluteWord(elf, target, relocations, r));
                break;
            // PC-relative branches and markers: nothing changes when the image moves.
            case R_ARM_NONE:
            case R_ARM_CALL:
            case R_ARM_JUMP24:
            case R_ARM_V4BX:
                break;
            default:
                throw ImageError(elf.path() + ": " + relocationName(r.type) + " in " + relocations.name + " at " +
                                 hex(r.offset) + " (section " + target.name +
                                 ") is not a relocation the image writer can carry into the image");
            }
        }
    }
    std::sort(rvas.begin(), rvas.end());
    return rvas;
}

BaseRelocationDirectory::BaseRelocationDirectory(const std::vector<uint32_t>& rvas) {
    using namespace pe::format;
    for (size_t i = 0; i < rvas.size(); ++i) {
        uint32_t rva = rvas[i];
        if (i && rva <= rvas[i - 1])
            throw ImageError("base relocations: RVA " + hex(rva) + (rva == rvas[i - 1] ? " appears twice" : " is out of order"));
        uint32_t page = alignDown(rva, kRelocPageSize);
        if (blocks_.empty() || blocks_.back().pageRva != page) blocks_.push_back({page, {}});
        blocks_.back().entries.push_back(uint16_t((pe::kRelocHighLow << 12) | (rva - page)));
        ++count_;
    }
    for (Block& block : blocks_) {
        if (block.entries.size() % 2) block.entries.push_back(uint16_t(pe::kRelocAbsolute << 12));
        size_ += kRelocBlockHeaderSize + kRelocEntrySize * uint32_t(block.entries.size());
    }
}

std::vector<uint8_t> BaseRelocationDirectory::bytes() const {
    using namespace pe::format;
    std::vector<uint8_t> out(size_);
    uint8_t* p = out.data();
    for (const Block& block : blocks_) {
        uint32_t blockSize = kRelocBlockHeaderSize + kRelocEntrySize * uint32_t(block.entries.size());
        pe::storeLe32(p, block.pageRva);
        pe::storeLe32(p + 4, blockSize);
        for (size_t i = 0; i < block.entries.size(); ++i)
            pe::storeLe16(p + kRelocBlockHeaderSize + kRelocEntrySize * i, block.entries[i]);
        p += blockSize;
    }
    return out;
}

}  // namespace imagewriter
