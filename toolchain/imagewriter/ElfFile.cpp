#include "toolchain/imagewriter/ElfFile.h"

#include "toolchain/imagewriter/ImageError.h"

#include <gelf.h>
#include <libelf.h>

#include <fstream>
#include <iterator>
#include <memory>

namespace imagewriter {

namespace {

using ElfHandle = std::unique_ptr<Elf, decltype(&elf_end)>;

class Reader {
public:
    explicit Reader(const std::string& path) : path_(path) {}

    [[noreturn]] void fail(const std::string& message) const {
        throw ImageError(path_ + ": " + message);
    }
    [[noreturn]] void failLibelf(const std::string& what) const {
        fail(what + ": " + elf_errmsg(-1));
    }

    // Whole file in memory: libelf then reads from a buffer whose size it knows.
    std::vector<char> readFile() const {
        std::ifstream in(path_, std::ios::binary);
        if (!in) fail("cannot be read");
        return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    void checkHeader(Elf* elf, size_t fileSize) const {
        if (elf_kind(elf) != ELF_K_ELF) fail("is not an ELF file");
        if (gelf_getclass(elf) != ELFCLASS32) fail("is not a 32-bit ELF file");
        // gelf_* copy each header out of the file: the file's own copy may be
        // misaligned in a damaged input.
        GElf_Ehdr header;
        GElf_Ehdr* ehdr = gelf_getehdr(elf, &header);
        if (!ehdr) failLibelf("ELF header");
        if (ehdr->e_ident[EI_DATA] != ELFDATA2LSB) fail("is not little-endian");
        if (ehdr->e_machine != EM_ARM) fail("is not an ARM ELF file (e_machine " + std::to_string(ehdr->e_machine) + ")");
        if (ehdr->e_type != ET_EXEC) fail("is not a linked executable (e_type " + std::to_string(ehdr->e_type) + ")");
        // libelf reads a cut-off section header table as no sections at all.
        uint64_t tableEnd = uint64_t(ehdr->e_shoff) + uint64_t(ehdr->e_shnum) * ehdr->e_shentsize;
        if (ehdr->e_shnum == 0 || tableEnd > fileSize)
            fail("section header table (" + std::to_string(ehdr->e_shnum) + " entries at offset " +
                 hex(ehdr->e_shoff) + ") lies outside the " + std::to_string(fileSize) + "-byte file");
    }

    ElfSection readSection(Elf* elf, Elf_Scn* scn, size_t namesIndex) const {
        ElfSection section;
        section.index = elf_ndxscn(scn);
        std::string label = "section " + std::to_string(section.index);
        GElf_Shdr header;
        const GElf_Shdr* shdr = gelf_getshdr(scn, &header);
        if (!shdr) failLibelf(label + " header");
        const char* name = elf_strptr(elf, namesIndex, shdr->sh_name);
        if (!name) failLibelf(label + " name");
        section.name = name;
        section.type = shdr->sh_type;
        section.flags = uint32_t(shdr->sh_flags);
        section.address = uint32_t(shdr->sh_addr);
        section.size = uint32_t(shdr->sh_size);
        section.info = shdr->sh_info;
        if (section.type != SHT_NOBITS && section.size) {
            Elf_Data* raw = elf_rawdata(scn, nullptr);
            if (!raw) failLibelf(label + " (" + section.name + ") data");
            if (raw->d_size != section.size)
                fail(label + " (" + section.name + ") holds " + std::to_string(raw->d_size) +
                     " bytes, its header says " + std::to_string(section.size));
            const uint8_t* bytes = static_cast<const uint8_t*>(raw->d_buf);
            section.data.assign(bytes, bytes + raw->d_size);
        }
        return section;
    }

    std::vector<ElfSymbol> readSymbols(Elf* elf, Elf_Scn* scn, size_t sectionCount) const {
        GElf_Shdr shdr;
        if (!gelf_getshdr(scn, &shdr)) failLibelf("symbol table header");
        Elf_Data* data = elf_getdata(scn, nullptr);
        if (!data) failLibelf("symbol table data");
        size_t count = data->d_size / sizeof(Elf32_Sym);
        std::vector<ElfSymbol> symbols;
        for (size_t i = 0; i < count; ++i) {
            GElf_Sym sym;
            if (!gelf_getsym(data, int(i), &sym)) failLibelf("symbol " + std::to_string(i));
            const char* name = elf_strptr(elf, shdr.sh_link, sym.st_name);
            if (!name) failLibelf("name of symbol " + std::to_string(i));
            ElfSymbol symbol;
            symbol.name = name;
            symbol.value = uint32_t(sym.st_value);
            symbol.size = uint32_t(sym.st_size);
            symbol.type = GELF_ST_TYPE(sym.st_info);
            symbol.binding = GELF_ST_BIND(sym.st_info);
            symbol.sectionIndex = sym.st_shndx;
            if (symbol.defined() && symbol.sectionIndex < SHN_LORESERVE && symbol.sectionIndex >= sectionCount)
                fail("symbol " + std::to_string(i) + " (" + symbol.name + ") lies in section " +
                     std::to_string(symbol.sectionIndex) + ", which does not exist");
            symbols.push_back(std::move(symbol));
        }
        return symbols;
    }

    ElfRelocationSection readRelocations(Elf_Scn* scn, const ElfSection& header, size_t symbolCount,
                                         size_t sectionCount) const {
        std::string label = "relocation section " + header.name;
        if (header.info == 0 || header.info >= sectionCount)
            fail(label + " applies to section " + std::to_string(header.info) + ", which does not exist");
        Elf_Data* data = elf_getdata(scn, nullptr);
        if (!data) failLibelf(label);
        ElfRelocationSection relocations;
        relocations.name = header.name;
        relocations.targetSection = header.info;
        size_t count = data->d_size / sizeof(Elf32_Rel);
        for (size_t i = 0; i < count; ++i) {
            GElf_Rel rel;
            if (!gelf_getrel(data, int(i), &rel)) failLibelf(label + " entry " + std::to_string(i));
            ElfRelocation r;
            r.offset = uint32_t(rel.r_offset);
            r.type = uint32_t(GELF_R_TYPE(rel.r_info));
            r.symbolIndex = uint32_t(GELF_R_SYM(rel.r_info));
            if (r.symbolIndex >= symbolCount)
                fail(label + " entry " + std::to_string(i) + " names symbol " + std::to_string(r.symbolIndex) +
                     ", beyond the symbol table");
            relocations.entries.push_back(r);
        }
        return relocations;
    }

private:
    std::string path_;
};

}  // namespace

ElfFile ElfFile::load(const std::string& path) {
    Reader reader(path);
    std::vector<char> bytes = reader.readFile();
    if (elf_version(EV_CURRENT) == EV_NONE) reader.failLibelf("libelf");
    ElfHandle elf(elf_memory(bytes.data(), bytes.size()), &elf_end);
    if (!elf) reader.failLibelf("ELF header");
    reader.checkHeader(elf.get(), bytes.size());

    size_t namesIndex = 0;
    if (elf_getshdrstrndx(elf.get(), &namesIndex) != 0) reader.failLibelf("section name table");

    ElfFile file;
    file.path_ = path;
    file.sections_.emplace_back();  // the null section, so that indexes match
    std::vector<Elf_Scn*> handles{nullptr};
    for (Elf_Scn* scn = elf_nextscn(elf.get(), nullptr); scn; scn = elf_nextscn(elf.get(), scn)) {
        file.sections_.push_back(reader.readSection(elf.get(), scn, namesIndex));
        handles.push_back(scn);
    }

    for (const ElfSection& section : file.sections_) {
        if (section.type != SHT_SYMTAB) continue;
        if (!file.symbols_.empty()) reader.fail("has more than one symbol table");
        file.symbols_ = reader.readSymbols(elf.get(), handles[section.index], file.sections_.size());
    }
    if (file.symbols_.empty()) reader.fail("has no symbol table (was it stripped?)");

    for (const ElfSection& section : file.sections_) {
        if (section.type == SHT_RELA)
            reader.fail("relocation section " + section.name + " has explicit addends (SHT_RELA), which ARM links do not produce");
        if (section.type == SHT_REL)
            file.relocations_.push_back(reader.readRelocations(handles[section.index], section,
                                                               file.symbols_.size(), file.sections_.size()));
    }

    for (size_t i = 0; i < file.symbols_.size(); ++i) {
        const ElfSymbol& s = file.symbols_[i];
        if ((s.binding == STB_GLOBAL || s.binding == STB_WEAK) && !s.name.empty()) file.globals_.emplace(s.name, i);
    }
    return file;
}

const ElfSymbol* ElfFile::findGlobal(const std::string& name) const {
    auto it = globals_.find(name);
    return it == globals_.end() ? nullptr : &symbols_[it->second];
}

const ElfSection* ElfFile::sectionOf(const ElfSymbol& symbol) const {
    if (symbol.sectionIndex == SHN_UNDEF || symbol.sectionIndex >= SHN_LORESERVE) return nullptr;
    if (symbol.sectionIndex >= sections_.size()) return nullptr;
    return &sections_[symbol.sectionIndex];
}

}  // namespace imagewriter
