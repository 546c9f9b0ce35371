#include "toolchain/imagewriter/ImageWriter.h"

#include "formats/pe/ByteOrder.h"
#include "formats/pe/Forwarder.h"
#include "formats/pe/PeFormat.h"
#include "toolchain/imagewriter/BaseRelocations.h"
#include "toolchain/imagewriter/ExceptionTable.h"
#include "toolchain/imagewriter/ExportDirectory.h"
#include "toolchain/imagewriter/ImageError.h"
#include "toolchain/imagewriter/ImageHeaders.h"
#include "toolchain/imagewriter/ImportDirectory.h"
#include "toolchain/imagewriter/ModuleCheck.h"
#include "toolchain/imagewriter/ModuleSymbols.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace imagewriter {
namespace {

constexpr uint32_t kReadOnlyData = pe::kSectionInitializedData | pe::kSectionRead;

// The IAT's words are replaced by the lookup values, so an absolute
// relocation there would adjust a value that is not an address.
void checkNoRelocationInIat(const ElfFile& elf, const std::vector<uint32_t>& relocations, const ModuleSymbols& symbols) {
    auto first = std::lower_bound(relocations.begin(), relocations.end(), symbols.iatRva);
    if (first != relocations.end() && *first < symbols.iatRva + symbols.iatSize)
        throw ImageError(elf.path() + ": an absolute relocation at " + hex(kImageBase + *first) +
                         " lies inside the IAT");
}

void copyElfSections(const ElfFile& elf, const ImageLayout& layout, std::vector<uint8_t>& file) {
    for (const OutputSection& out : layout.sections())
        for (size_t index : out.elfSections) {
            const ElfSection& s = elf.sections()[index];
            if (s.type != SHT_PROGBITS) continue;  // .bss: zero, and past the file data
            std::memcpy(file.data() + out.fileOffset + (s.address - kImageBase - out.rva), s.data.data(), s.size);
        }
}

// Each forwarder's two instructions, computed from where the layout put it
// and its import slot, into the room the generator left for them.
void writeForwarders(const ElfFile& elf, const velmark::ExportTable& table, const ImageLayout& layout,
                     const ModuleSymbols& symbols, std::vector<uint8_t>& file) {
    std::map<uint16_t, uint32_t> slotRvas;
    const std::vector<velmark::ImportEntry> imports = table.imports();
    for (size_t i = 0; i < imports.size(); ++i) slotRvas[imports[i].ordinal] = symbols.iatRva + 4 * uint32_t(i);
    Problems problems(elf.path());
    for (size_t i = 0; i < table.rows().size(); ++i) {
        const velmark::ExportEntry& row = table.rows()[i];
        if (!row.forwarded()) continue;
        const uint32_t rva = symbols.exportRvas[i], slot = slotRvas.at(row.ordinal);
        const std::string label = "the forwarder of " + row.name + " at " + hex(kImageBase + rva);
        std::optional<pe::ForwarderCode> code = pe::encodeForwarder(rva, slot);
        const OutputSection* out = layout.sectionAt(rva);
        uint8_t* room = file.data() + out->fileOffset + (rva - out->rva);
        if (!code)
            problems.add(label + " cannot reach its import slot at " + hex(kImageBase + slot) +
                         " (at most " + hex(pe::kForwarderReach) + " bytes away)");
        else if (std::any_of(room, room + pe::kForwarderSize, [](uint8_t b) { return b != 0; }))
            problems.add(label + " is not the empty room the generator leaves for a forwarder");
        else
            for (size_t w = 0; w < code->size(); ++w) pe::storeLe32(room + 4 * w, (*code)[w]);
    }
    problems.raiseIfAny();
}

// The IAT on disk holds the lookup table's values, as the loader of any PE
// image may bind from either.
void writeIat(const ImageLayout& layout, const ModuleSymbols& symbols, const std::vector<uint32_t>& entries,
              std::vector<uint8_t>& file) {
    const OutputSection* out = layout.sectionAt(symbols.iatRva);
    uint32_t offset = out->fileOffset + (symbols.iatRva - out->rva);
    for (size_t i = 0; i < entries.size(); ++i) pe::storeLe32(file.data() + offset + 4 * i, entries[i]);
}

void place(std::vector<uint8_t>& file, const OutputSection& out, const std::vector<uint8_t>& bytes) {
    std::memcpy(file.data() + out.fileOffset, bytes.data(), bytes.size());
}

}  // namespace

WrittenImage buildImage(const ElfFile& elf, const velmark::ExportTable& table) {
    using namespace pe::format;
    checkModule(elf);
    // Layout: the linked sections first, since every RVA below depends on
    // them lying inside the image; every table knows its size before its own
    // RVA is chosen.
    WrittenImage image;
    image.layout = ImageLayout::fromElf(elf);
    ModuleSymbols symbols = resolveModuleSymbols(elf, table);
    std::vector<uint32_t> relocationRvas = absoluteWordRvas(elf);
    checkNoRelocationInIat(elf, relocationRvas, symbols);
    ExceptionTable exceptions = ExceptionTable::fromElf(elf);

    ExportDirectory exports(table, symbols.exportRvas, kExportDllName);
    ImportDirectory imports(table.imports(), kImportDllName, symbols.iatRva);
    image.layout.append(".edata", kReadOnlyData, exports.size());
    image.layout.append(".idata", kReadOnlyData, imports.size());
    // The table's start addresses are absolute: relocated like the code's.
    if (exceptions.size()) {
        image.layout.append(".pdata", kReadOnlyData, exceptions.size());
        for (uint32_t rva : exceptions.addressRvas(image.layout.find(".pdata")->rva)) relocationRvas.push_back(rva);
        std::sort(relocationRvas.begin(), relocationRvas.end());
    }
    BaseRelocationDirectory relocations(relocationRvas);
    if (relocations.size()) image.layout.append(".reloc", kReadOnlyData | pe::kSectionDiscardable, relocations.size());
    image.layout.assignFileOffsets();
    const OutputSection& edata = *image.layout.find(".edata");
    const OutputSection& idata = *image.layout.find(".idata");
    const OutputSection* reloc = image.layout.find(".reloc");
    const OutputSection* pdata = image.layout.find(".pdata");

    DataDirectories directories{};
    directories[pe::kDirExport] = {edata.rva, exports.size()};
    directories[pe::kDirImport] = {idata.rva, imports.descriptorsSize()};
    if (reloc) directories[pe::kDirBaseReloc] = {reloc->rva, relocations.size()};
    if (pdata) directories[pe::kDirException] = {pdata->rva, exceptions.size()};
    directories[pe::kDirIat] = {symbols.iatRva, symbols.iatSize};

    // Bytes: each piece written once, at the place the layout gave it.
    image.bytes.assign(image.layout.fileSize(), 0);
    std::vector<uint8_t> headers = buildHeaders(image.layout, symbols.entryRva, directories);
    std::copy(headers.begin(), headers.end(), image.bytes.begin());
    copyElfSections(elf, image.layout, image.bytes);
    writeForwarders(elf, table, image.layout, symbols, image.bytes);
    writeIat(image.layout, symbols, imports.lookupEntries(idata.rva), image.bytes);
    place(image.bytes, edata, exports.bytes(edata.rva));
    place(image.bytes, idata, imports.bytes(idata.rva));
    if (reloc) place(image.bytes, *reloc, relocations.bytes());
    if (pdata) place(image.bytes, *pdata, exceptions.bytes());

    image.relocations = relocations.relocationCount();
    image.relocationBlocks = relocations.blockCount();
    return image;
}

}  // namespace imagewriter
