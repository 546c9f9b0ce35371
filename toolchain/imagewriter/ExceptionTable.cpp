#include "toolchain/imagewriter/ExceptionTable.h"

#include "formats/pe/ByteOrder.h"
#include "toolchain/imagewriter/ImageError.h"

#include <algorithm>
#include <map>

namespace imagewriter {
namespace {

// The ARM ELF mapping symbols ($a code, $d literal data, $t Thumb code) of
// one section, by address.
std::map<uint32_t, char> mappingSymbols(const ElfFile& elf, size_t section) {
    std::map<uint32_t, char> marks;
    for (const ElfSymbol& s : elf.symbols())
        if (s.sectionIndex == section && s.name.size() >= 2 && s.name[0] == '$' &&
            (s.name[1] == 'a' || s.name[1] == 'd' || s.name[1] == 't') && (s.name.size() == 2 || s.name[2] == '.'))
            marks[s.value] = s.name[1];
    return marks;
}

char kindAt(const std::map<uint32_t, char>& marks, uint32_t address) {
    auto it = marks.upper_bound(address);
    return it == marks.begin() ? 'a' : std::prev(it)->second;
}

// The sized function symbols of the executable sections, by address; an
// alias or an inner label of a function (same start, or wholly inside it)
// is left out.
std::vector<const ElfSymbol*> functionSymbols(const ElfFile& elf, Problems& problems) {
    std::vector<const ElfSymbol*> found;
    for (const ElfSymbol& s : elf.symbols()) {
        const ElfSection* section = elf.sectionOf(s);
        if (s.type == STT_FUNC && s.size && section && section->executable()) found.push_back(&s);
    }
    std::sort(found.begin(), found.end(), [](const ElfSymbol* a, const ElfSymbol* b) {
        return a->value != b->value ? a->value < b->value : a->size > b->size;
    });
    std::vector<const ElfSymbol*> outer;
    for (const ElfSymbol* s : found) {
        if (!outer.empty() && s->value < uint64_t(outer.back()->value) + outer.back()->size) {
            if (uint64_t(s->value) + s->size > uint64_t(outer.back()->value) + outer.back()->size)
                problems.add("functions " + outer.back()->name + " and " + s->name + " overlap");
            continue;
        }
        outer.push_back(s);
    }
    return outer;
}

// Code outside every sized function (the forwarders, hand-written stubs)
// gets no entry, so the platform takes it for a leaf: it must leave sp and
// lr alone.
void checkCodeOutsideFunctions(const ElfFile& elf, const std::vector<const ElfSymbol*>& functions,
                               std::map<size_t, std::map<uint32_t, char>>& marks, Problems& problems) {
    std::map<uint32_t, uint32_t> covered;  // start -> end
    for (const ElfSymbol* f : functions) covered[f->value] = f->value + f->size;
    for (const ElfSection& section : elf.sections()) {
        if (!section.allocated() || !section.executable() || section.data.size() < 4) continue;
        if (!marks.count(section.index)) marks[section.index] = mappingSymbols(elf, section.index);
        for (uint32_t offset = 0; offset + 4 <= section.data.size(); offset += 4) {
            uint32_t address = section.address + offset;
            auto inside = covered.upper_bound(address);
            if (inside != covered.begin() && address < std::prev(inside)->second) {
                offset = std::prev(inside)->second - section.address - 4;
                continue;
            }
            if (kindAt(marks[section.index], address) != 'a') continue;
            uint32_t word = pe::loadLe32(section.data.data() + offset);
            if (pe::arm::changesSpOrLr(word))
                problems.add("code at " + hex(address) + " in " + section.name + " (" + pe::arm::describeInstruction(word) +
                             ") changes sp or lr outside every sized function symbol, so no table entry can describe it");
        }
    }
}

}  // namespace

ExceptionTable ExceptionTable::fromElf(const ElfFile& elf) {
    Problems problems(elf.path());
    ExceptionTable table;
    std::map<size_t, std::map<uint32_t, char>> marks;
    std::vector<const ElfSymbol*> functions = functionSymbols(elf, problems);
    for (const ElfSymbol* s : functions) {
        const ElfSection& section = *elf.sectionOf(*s);
        std::string label = "function " + s->name + " at " + hex(s->value);
        if (s->value % 4 || s->size % 4 || s->value < section.address || s->value + uint64_t(s->size) > section.end()) {
            problems.add(label + ": its extent (" + std::to_string(s->size) +
                         " bytes) is not whole ARM instructions inside " + section.name);
            continue;
        }
        if (!marks.count(section.index)) marks[section.index] = mappingSymbols(elf, section.index);
        std::vector<uint32_t> code(s->size / 4);
        std::vector<bool> isData(code.size());
        bool thumb = false;
        for (size_t i = 0; i < code.size(); ++i) {
            uint32_t address = s->value + 4 * uint32_t(i);
            code[i] = pe::loadLe32(section.data.data() + (address - section.address));
            char kind = kindAt(marks[section.index], address);
            isData[i] = kind == 'd';
            thumb = thumb || kind == 't';
        }
        if (thumb) {
            problems.add(label + " holds Thumb code, which the exception table cannot describe");
            continue;
        }
        std::string problem;
        std::optional<pe::arm::FrameShape> shape = pe::arm::checkFunction(code, isData, problem);
        if (!shape) {
            problems.add(label + ": " + problem);
            continue;
        }
        if (shape->prologLength == 0) continue;  // no frame: the platform takes it for a leaf
        if (code.size() > 0x3FFFFF) {
            problems.add(label + " is longer than the 22-bit length of an exception-table entry");
            continue;
        }
        pe::arm::RuntimeFunction entry;
        entry.start = s->value;
        entry.prologLength = shape->prologLength;
        entry.functionLength = uint32_t(code.size());
        entry.is32Bit = true;
        table.functions_.push_back(entry);
    }
    checkCodeOutsideFunctions(elf, functions, marks, problems);
    problems.raiseIfAny();
    return table;
}

std::vector<uint32_t> ExceptionTable::addressRvas(uint32_t tableRva) const {
    std::vector<uint32_t> rvas;
    for (size_t i = 0; i < functions_.size(); ++i) rvas.push_back(tableRva + uint32_t(i) * pe::arm::kRuntimeFunctionSize);
    return rvas;
}

std::vector<uint8_t> ExceptionTable::bytes() const {
    std::vector<uint8_t> out(size());
    for (size_t i = 0; i < functions_.size(); ++i) {
        pe::storeLe32(out.data() + 8 * i, functions_[i].start);
        pe::storeLe32(out.data() + 8 * i + 4, functions_[i].packedLengths());
    }
    return out;
}

}  // namespace imagewriter
