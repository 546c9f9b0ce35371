#include "tests/bench/TinyImage.h"

#include "formats/common/Align.h"
#include "formats/pe/Forwarder.h"

#include <algorithm>
#include <map>

namespace benchtest {
namespace {

constexpr uint32_t kHeaderSize = 0x400;
constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kLookupTableRva = 0x2F00;  // any non-zero RVA: the bench binds from the reader's entries

void put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    if (bytes.size() < at + 4) bytes.resize(at + 4);
    for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
}

std::vector<uint8_t> wordsToBytes(const std::vector<uint32_t>& words) {
    std::vector<uint8_t> bytes;
    for (uint32_t w : words) put32(bytes, bytes.size(), w);
    return bytes;
}

}  // namespace

uint32_t TinyImage::addCode(const std::vector<uint32_t>& words, const std::vector<size_t>& absolute) {
    uint32_t rva = kTextRva + uint32_t(4 * text_.size());
    text_.insert(text_.end(), words.begin(), words.end());
    for (size_t index : absolute) relocations_.push_back({rva + uint32_t(4 * index), pe::kRelocHighLow});
    return rva;
}

uint32_t TinyImage::addForwarder(uint32_t slotRva) {
    pe::ForwarderCode code = pe::encodeForwarder(kTextRva + uint32_t(4 * text_.size()), slotRva).value();
    return addCode({code[0], code[1]});
}

uint32_t TinyImage::addData(uint32_t value) {
    data_.push_back(value);
    return kDataRva + uint32_t(4 * (data_.size() - 1));
}

uint32_t TinyImage::addReadOnly(uint32_t value) {
    readOnly_.push_back(value);
    return kReadOnlyRva + uint32_t(4 * (readOnly_.size() - 1));
}

uint32_t TinyImage::importOrdinal(uint16_t ordinal) {
    uint32_t slot = addData(0);
    pe::Import entry;
    entry.byOrdinal = true;
    entry.ordinal = ordinal;
    entry.slotRva = slot;
    imports_.push_back(entry);
    importNames_.emplace_back();
    return slot;
}

uint32_t TinyImage::importName(const std::string& name) {
    uint32_t slot = addData(0);
    pe::Import entry;
    entry.slotRva = slot;
    imports_.push_back(entry);
    importNames_.push_back(name);
    return slot;
}

void TinyImage::exportFunction(const std::string& name, uint16_t ordinal, uint32_t rva) {
    exports_.push_back({name, ordinal, rva});
}

pe::Image TinyImage::build() const {
    pe::Image image;
    image.machine = pe::kMachineArm;
    image.fileCharacteristics = 0x2102;  // DLL, 32-bit machine, executable
    image.sizeOfOptionalHeader = 0xE0;
    image.optionalMagic = 0x10B;
    image.entryPointRva = entry_;
    image.imageBase = kPreferredBase;
    image.sectionAlignment = 0x1000;
    image.fileAlignment = kFileAlignment;
    image.subsystem = pe::kSubsystemWindowsCeGui;
    image.subsystemMajor = 4;
    image.subsystemMinor = 10;
    image.sizeOfHeaders = kHeaderSize;
    image.numberOfRvaAndSizes = 16;
    image.directories.resize(16);
    image.file.assign(kHeaderSize, 0);

    // The export directory: one address slot per ordinal from the lowest,
    // names sorted as the format requires.
    std::vector<Export> named = exports_;
    std::sort(named.begin(), named.end(), [](const Export& a, const Export& b) { return a.name < b.name; });
    uint16_t base = 1, last = 0;
    if (!exports_.empty()) {
        base = std::min_element(exports_.begin(), exports_.end(), [](auto& a, auto& b) { return a.ordinal < b.ordinal; })->ordinal;
        last = std::max_element(exports_.begin(), exports_.end(), [](auto& a, auto& b) { return a.ordinal < b.ordinal; })->ordinal;
    }
    uint32_t functionCount = exports_.empty() ? 0 : uint32_t(last - base + 1);
    uint32_t functions = kExportRva + 40;
    uint32_t names = functions + 4 * functionCount;
    uint32_t ordinals = names + 4 * uint32_t(named.size());
    uint32_t strings = velmark::alignUp(ordinals + 2 * uint32_t(named.size()), 4);
    std::vector<uint8_t> edata(strings - kExportRva, 0);
    auto addString = [&edata](const std::string& s) {
        uint32_t rva = kExportRva + uint32_t(edata.size());
        edata.insert(edata.end(), s.begin(), s.end());
        edata.push_back(0);
        return rva;
    };
    put32(edata, 12, addString("TINY.dll"));
    put32(edata, 16, base);
    put32(edata, 20, functionCount);
    put32(edata, 24, uint32_t(named.size()));
    put32(edata, 28, functions);
    put32(edata, 32, names);
    put32(edata, 36, ordinals);
    image.exportAddresses.assign(functionCount, 0);
    for (const Export& e : exports_) {
        put32(edata, functions - kExportRva + 4 * (e.ordinal - base), e.rva);
        image.exportAddresses[e.ordinal - base] = e.rva;
    }
    for (size_t i = 0; i < named.size(); ++i) {
        put32(edata, names - kExportRva + 4 * i, addString(named[i].name));
        uint16_t index = uint16_t(named[i].ordinal - base);
        edata[ordinals - kExportRva + 2 * i] = uint8_t(index);
        edata[ordinals - kExportRva + 2 * i + 1] = uint8_t(index >> 8);
        image.namedExports.push_back({image.holdName(named[i].name), named[i].ordinal});
    }
    image.exportDllName = "TINY.dll";
    image.ordinalBase = base;
    image.directories[0] = {kExportRva, uint32_t(edata.size())};

    auto addSection = [&image](const std::string& name, uint32_t rva, std::vector<uint8_t> bytes, uint32_t flags) {
        if (bytes.empty()) bytes.resize(4, 0);
        pe::Section s;
        s.name = name;
        s.virtualAddress = rva;
        s.virtualSize = uint32_t(bytes.size());
        s.rawOffset = uint32_t(image.file.size());
        s.rawSize = velmark::alignUp(uint32_t(bytes.size()), kFileAlignment);
        s.characteristics = flags;
        bytes.resize(s.rawSize, 0);
        image.file.insert(image.file.end(), bytes.begin(), bytes.end());
        image.sections.push_back(s);
        image.sizeOfImage = rva + velmark::alignUp(s.virtualSize, 0x1000);
    };
    addSection(".text", kTextRva, wordsToBytes(text_), pe::kSectionCode | pe::kSectionExecute | pe::kSectionRead);
    addSection(".rdata", kReadOnlyRva, wordsToBytes(readOnly_), pe::kSectionInitializedData | pe::kSectionRead);
    addSection(".data", kDataRva, wordsToBytes(data_),
               pe::kSectionInitializedData | pe::kSectionRead | pe::kSectionWrite);
    addSection(".edata", kExportRva, edata, pe::kSectionInitializedData | pe::kSectionRead);
    if (withDiscardableSection)
        addSection(".disc", kDiscardableRva, wordsToBytes({0x11111111}),
                   pe::kSectionInitializedData | pe::kSectionRead | pe::kSectionDiscardable);

    if (!imports_.empty()) {
        pe::ImportedLibrary library;
        library.dllName = image.holdName(importedDll);
        library.lookupTableRva = withLookupTable ? kLookupTableRva : 0;
        library.iatRva = imports_.front().slotRva;
        library.entries = imports_;
        for (size_t i = 0; i < library.entries.size(); ++i)
            if (!library.entries[i].byOrdinal) library.entries[i].name = image.holdName(importNames_[i]);
        image.imports.push_back(library);
    }
    image.relocations = relocations_;
    image.relocations.insert(image.relocations.end(), extraRelocations.begin(), extraRelocations.end());
    return image;
}

}  // namespace benchtest
