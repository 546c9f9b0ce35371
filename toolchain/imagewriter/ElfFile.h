// The parts of a linked ELF32 little-endian ARM executable the image writer
// needs: sections with their contents, the symbol table and the relocations
// the link kept (ld -q). Read through libelf, which checks every section's
// extent against the file.
#pragma once

#include <elf.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace imagewriter {

struct ElfSection {
    size_t index = 0;
    std::string name;
    uint32_t type = 0;
    uint32_t flags = 0;
    uint32_t address = 0;
    uint32_t size = 0;
    uint32_t info = 0;
    std::vector<uint8_t> data;  // the section's bytes; empty for SHT_NOBITS

    bool allocated() const { return flags & SHF_ALLOC; }
    bool executable() const { return flags & SHF_EXECINSTR; }
    bool writable() const { return flags & SHF_WRITE; }
    uint64_t end() const { return uint64_t(address) + size; }
};

struct ElfSymbol {
    std::string name;
    uint32_t value = 0;
    uint32_t size = 0;
    uint8_t type = 0;     // STT_*
    uint8_t binding = 0;  // STB_*
    uint16_t sectionIndex = 0;

    bool defined() const { return sectionIndex != SHN_UNDEF; }
};

struct ElfRelocation {
    uint32_t offset = 0;  // the address it applies to (an executable's r_offset)
    uint32_t type = 0;    // R_ARM_*
    uint32_t symbolIndex = 0;
};

struct ElfRelocationSection {
    std::string name;
    size_t targetSection = 0;  // index of the section the entries apply to
    std::vector<ElfRelocation> entries;
};

class ElfFile {
public:
    // Throws ImageError naming the path and the structure at fault.
    static ElfFile load(const std::string& path);

    const std::string& path() const { return path_; }
    const std::vector<ElfSection>& sections() const { return sections_; }  // [0] is the null section
    const std::vector<ElfSymbol>& symbols() const { return symbols_; }    // [0] is the null symbol
    const std::vector<ElfRelocationSection>& relocationSections() const { return relocations_; }

    // The global or weak symbol of that name, or nullptr.
    const ElfSymbol* findGlobal(const std::string& name) const;
    // The section holding a symbol, or nullptr for undefined/absolute/common ones.
    const ElfSection* sectionOf(const ElfSymbol& symbol) const;

private:
    std::string path_;
    std::vector<ElfSection> sections_;
    std::vector<ElfSymbol> symbols_;
    std::vector<ElfRelocationSection> relocations_;
    std::unordered_map<std::string, size_t> globals_;
};

}  // namespace imagewriter
