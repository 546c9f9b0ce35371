#include "tests/image/BuiltModule.h"

#include <stdexcept>

namespace testsupport {

const BuiltModule& BuiltModule::get() {
    static const BuiltModule module{velmark::ExportTable::load(VELMARK_TABLE),
                                    imagewriter::ElfFile::load(VELMARK_ELF), pe::readImageFile(VELMARK_DLL)};
    return module;
}

uint32_t BuiltModule::symbolRva(const std::string& name) const {
    const imagewriter::ElfSymbol* symbol = elf.findGlobal(name);
    if (!symbol || !symbol->defined()) throw std::runtime_error("the module has no symbol " + name);
    return symbol->value - image.imageBase;
}

std::set<uint32_t> BuiltModule::absoluteWordRvas() const {
    std::set<uint32_t> rvas;
    for (const imagewriter::ElfRelocationSection& section : elf.relocationSections()) {
        if (!elf.sections()[section.targetSection].allocated()) continue;
        for (const imagewriter::ElfRelocation& r : section.entries)
            if (r.type == R_ARM_ABS32) rvas.insert(r.offset - image.imageBase);
    }
    return rvas;
}

}  // namespace testsupport
