#include "toolchain/imagewriter/ModuleCheck.h"

#include "toolchain/imagewriter/ImageError.h"

namespace imagewriter {
namespace {

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Weak references survive `ld --no-undefined` and resolve to 0.
void checkUndefined(const ElfFile& elf, Problems& problems) {
    const auto& symbols = elf.symbols();
    for (size_t i = 1; i < symbols.size(); ++i) {
        const ElfSymbol& s = symbols[i];
        if (!s.defined() && !s.name.empty())
            problems.add("symbol " + s.name + " is undefined");
    }
}

// GNU ld names its veneers `<target>_veneer` and its ARM/Thumb interworking
// stubs `__<target>_from_arm` / `__<target>_from_thumb`, and collects them in
// these sections.
void checkVeneers(const ElfFile& elf, Problems& problems) {
    for (const ElfSymbol& s : elf.symbols()) {
        if (endsWith(s.name, "_veneer"))
            problems.add("linker veneer " + s.name + " at " + hex(s.value) +
                         " (a branch was out of range or changed instruction set)");
        else if (startsWith(s.name, "__") && (endsWith(s.name, "_from_arm") || endsWith(s.name, "_from_thumb")))
            problems.add("interworking glue " + s.name + " at " + hex(s.value));
    }
    for (const ElfSection& section : elf.sections())
        if ((section.name == ".glue_7" || section.name == ".glue_7t" || section.name == ".v4_bx") && section.size)
            problems.add("section " + section.name + " holds " + std::to_string(section.size) +
                         " bytes of linker-generated glue");
}

// `$t` mapping symbols mark Thumb code; a Thumb function's address has bit 0 set.
void checkArmOnly(const ElfFile& elf, Problems& problems) {
    for (const ElfSymbol& s : elf.symbols()) {
        if (s.name == "$t" || startsWith(s.name, "$t.")) {
            problems.add("Thumb code at " + hex(s.value) + " (mapping symbol " + s.name + ")");
            continue;
        }
        const ElfSection* section = elf.sectionOf(s);
        bool inCode = section && section->executable();
        bool thumbFunction = s.type == STT_ARM_TFUNC || (s.type == STT_FUNC && (s.value & 1));
        if (thumbFunction || (inCode && (s.value & 1) && s.type != STT_SECTION))
            problems.add("symbol " + s.name + " at " + hex(s.value) + " is Thumb code (bit 0 set)");
    }
}

}  // namespace

void checkModule(const ElfFile& elf) {
    Problems problems(elf.path());
    checkUndefined(elf, problems);
    checkVeneers(elf, problems);
    checkArmOnly(elf, problems);
    problems.raiseIfAny();
}

}  // namespace imagewriter
