#include "emulator/Loader.h"

#include "formats/common/Align.h"
#include "formats/common/DllNames.h"

#include "emulator/Fake.h"
#include "emulator/Fault.h"
#include "formats/pe/PeFormat.h"
#include "formats/pe/PeImage.h"

#include <algorithm>

namespace bench {
namespace {

constexpr uint16_t kFileRelocsStripped = 0x0001;
constexpr uint16_t kFileDll = 0x2000;
constexpr uint16_t kOptionalHeaderSize = 0xE0;  // the CE loader reads exactly this much
constexpr uint32_t kAllocationGranularity = 0x10000;
constexpr size_t kMaxImportNameLength = 32;
// The newest CE version this bench stands for; a newer subsystem version is refused.
constexpr uint32_t kKernelVersion = (4u << 16) | 10u;

// Maps what it is asked to and unmaps all of it unless told the load is done.
class Mapping {
public:
    explicit Mapping(Memory& memory) : memory_(memory) {}
    ~Mapping() {
        if (!committed_)
            for (uint32_t start : starts_) memory_.unmap(start);
    }
    void map(uint32_t start, uint32_t size, uint32_t rights, const std::string& label) {
        memory_.map(start, size, rights, Owner::Module, label);
        starts_.push_back(start);
    }
    void commit() { committed_ = true; }

private:
    Memory& memory_;
    std::vector<uint32_t> starts_;
    bool committed_ = false;
};

void checkHeaders(const pe::Image& image, uint32_t base) {
    auto refuse = [](const std::string& why) { throw LoadRefused(why); };
    if (image.machine != pe::kMachineArm) refuse("machine " + hex(image.machine) + " is not ARM (0x1C0)");
    if (!(image.fileCharacteristics & kFileDll)) refuse("the image is not a DLL");
    if (image.sizeOfOptionalHeader != kOptionalHeaderSize || image.numberOfRvaAndSizes != pe::format::kDataDirectoryCount)
        refuse("the optional header is not the 0xE0 bytes with 16 directories the loader reads");
    if (image.subsystem != pe::kSubsystemWindowsCeGui) refuse("subsystem " + std::to_string(image.subsystem) + " is not Windows CE GUI (9)");
    if ((uint32_t(image.subsystemMajor) << 16 | image.subsystemMinor) > kKernelVersion)
        refuse("subsystem version " + std::to_string(image.subsystemMajor) + "." +
               std::to_string(image.subsystemMinor) + " is newer than Windows CE 4.10");
    if (image.sectionAlignment != kPageSize) refuse("section alignment " + hex(image.sectionAlignment) + " is not a page");
    if (base == image.imageBase)
        refuse("the load base equals the preferred base " + hex(base) + "; the bench always relocates");
    if (image.fileCharacteristics & kFileRelocsStripped) refuse("relocations are stripped, so it cannot move to " + hex(base));
    if (base % kAllocationGranularity || base < kImageSpaceStart ||
        uint64_t(base) + velmark::alignUp(image.sizeOfImage, kPageSize) > kPlatformArenaStart)
        throw BenchMisuse("load base " + hex(base) + " is not a 64 KB boundary in [" + hex(kImageSpaceStart) +
                          ", " + hex(kPlatformArenaStart) + ")");
}

void mapSections(const pe::Image& image, uint32_t base, Mapping& mapping, Memory& memory, LoadedImage& loaded) {
    uint32_t headerSize = velmark::alignUp(std::max<uint32_t>(image.sizeOfHeaders, 1), kPageSize);
    if (image.sizeOfHeaders > image.file.size()) throw LoadRefused("the headers reach past the end of the file");
    mapping.map(base, headerSize, kRead, loaded.name + " headers");
    memory.poke(base, image.file.data(), image.sizeOfHeaders);

    for (const pe::Section& section : image.sections) {
        uint32_t size = velmark::alignUp(std::max<uint32_t>(section.span(), 1), kPageSize);
        if (section.virtualAddress % kPageSize)
            throw LoadRefused("section " + section.name + " does not start on a page");
        if (section.virtualAddress < headerSize || uint64_t(section.virtualAddress) + size > velmark::alignUp(image.sizeOfImage, kPageSize))
            throw LoadRefused("section " + section.name + " lies outside the image");
        if (uint64_t(section.rawOffset) + section.rawSize > image.file.size())
            throw LoadRefused("section " + section.name + "'s raw data lies outside the file");
        uint32_t rights = kRead;
        if (section.characteristics & pe::kSectionWrite) rights |= kWrite;
        if (section.characteristics & pe::kSectionExecute) rights |= kExecute;
        uint32_t start = base + section.virtualAddress;
        try {
            mapping.map(start, size, rights, loaded.name + " " + section.name);
        } catch (const BenchMisuse& e) {
            throw LoadRefused("section " + section.name + " overlaps another: " + e.what());
        }
        memory.poke(start, image.file.data() + section.rawOffset, section.fileBackedSize());
        loaded.sections.push_back(
            MappedSection{section.name, start, size, rights, (section.characteristics & pe::kSectionDiscardable) != 0});
    }
}

void applyRelocations(const pe::Image& image, uint32_t base, Memory& memory, LoadedImage& loaded) {
    uint32_t delta = base - image.imageBase;
    for (const pe::BaseRelocation& reloc : image.relocations) {
        if (reloc.type != pe::kRelocHighLow)
            throw LoadRefused("base relocation of type " + std::to_string(reloc.type) + " at RVA " + hex(reloc.rva) +
                              "; only HIGHLOW (3) is expected");
        uint32_t at = base + reloc.rva;
        const Region* region = memory.regionAt(at);
        if (reloc.rva < image.sizeOfHeaders || !memory.has(at, 4, kRead) || region->owner != Owner::Module)
            throw LoadRefused("base relocation at RVA " + hex(reloc.rva) + " lies outside every section");
        uint32_t word = 0;
        memory.read(at, &word, 4);
        word += delta;
        memory.poke(at, &word, 4);
        ++loaded.relocationsApplied;
    }
}

// An import of a loaded image's export: bound to the export's address.
void bindToImage(const pe::ImportedLibrary& library, const LoadedImage& exporter, uint32_t base, Memory& memory,
                 LoadedImage& loaded) {
    const std::map<std::string, uint32_t> named = exportsByName(memory, exporter);
    for (const pe::Import& entry : library.entries) {
        BoundImport bound{entry.ordinal, !entry.byOrdinal, std::string(entry.name), base + entry.slotRva, 0};
        auto it = named.find(bound.name);
        if (!entry.byOrdinal && it == named.end())
            throw LoadRefused("imports " + bound.name + " by name, which " + exporter.name + " does not export");
        try {
            bound.target = entry.byOrdinal ? exportByOrdinal(memory, exporter, entry.ordinal) : it->second;
        } catch (const BenchMisuse& e) {
            throw LoadRefused("imports from " + exporter.name + " what it does not export: " + e.what());
        }
        memory.poke(bound.slot, &bound.target, 4);
        loaded.imports.push_back(bound);
    }
}

void bindImports(const pe::Image& image, uint32_t base, Memory& memory, const FakeCoredll& fake,
                 const std::vector<const LoadedImage*>& exporters, LoadedImage& loaded) {
    for (const pe::ImportedLibrary& library : image.imports) {
        if (library.dllName.size() > kMaxImportNameLength)
            throw LoadRefused("imported DLL name " + std::string(library.dllName.substr(0, 40)) + "... is longer than 32 characters");
        if (library.lookupTableRva == 0)
            throw LoadRefused("the import of " + std::string(library.dllName) + " has no lookup table (OriginalFirstThunk)");
        for (const pe::Import& entry : library.entries)
            if (!memory.has(base + entry.slotRva, 4, kRead) || memory.regionAt(base + entry.slotRva)->owner != Owner::Module)
                throw LoadRefused("the import slot at RVA " + hex(entry.slotRva) + " lies outside the image");
        auto exporter = std::find_if(exporters.begin(), exporters.end(), [&library](const LoadedImage* e) {
            return velmark::sameDllName(library.dllName, e->name);
        });
        if (exporter != exporters.end()) {
            bindToImage(library, **exporter, base, memory, loaded);
            continue;
        }
        if (!velmark::sameDllName(library.dllName, velmark::kCoredllDllName))
            throw LoadRefused("imports from " + std::string(library.dllName) + "; only COREDLL.dll is there to bind to");
        for (const pe::Import& entry : library.entries) {
            BoundImport bound{entry.ordinal, !entry.byOrdinal, std::string(entry.name), base + entry.slotRva, 0};
            if (!entry.byOrdinal) {
                std::optional<uint16_t> ordinal = fake.ordinalOf(entry.name);
                if (!ordinal || !fake.exports(*ordinal))
                    throw LoadRefused("imports " + std::string(entry.name) + " by name, which COREDLL does not export");
                bound.ordinal = *ordinal;
            } else if (!fake.exports(entry.ordinal)) {
                throw LoadRefused("imports ordinal " + std::to_string(entry.ordinal) + ", which COREDLL does not export");
            }
            bound.target = Cpu::trapAddress(bound.ordinal);
            memory.poke(bound.slot, &bound.target, 4);
            loaded.imports.push_back(bound);
        }
    }
}

struct ExportDirectory {
    uint32_t base = 0, functionCount = 0, nameCount = 0, functions = 0, names = 0, nameOrdinals = 0;
};

ExportDirectory readExportDirectory(const Memory& memory, const LoadedImage& image) {
    if (!image.exportDirectory) throw BenchMisuse(image.name + " has no export directory");
    uint32_t at = image.base + image.exportDirectory;
    ExportDirectory d;
    d.base = memory.read32(at + 16);
    d.functionCount = memory.read32(at + 20);
    d.nameCount = memory.read32(at + 24);
    d.functions = image.base + memory.read32(at + 28);
    d.names = image.base + memory.read32(at + 32);
    d.nameOrdinals = image.base + memory.read32(at + 36);
    return d;
}

uint32_t exportAt(const Memory& memory, const LoadedImage& image, const ExportDirectory& d, uint32_t index,
                  const std::string& what) {
    if (index >= d.functionCount) throw BenchMisuse(image.name + " has no export " + what);
    uint32_t rva = memory.read32(d.functions + 4 * index);
    if (rva == 0) throw BenchMisuse(image.name + " has no export " + what + " (empty address slot)");
    if (rva >= image.exportDirectory && rva < image.exportDirectory + image.exportDirectorySize)
        throw BenchMisuse(image.name + " export " + what + " is a forwarded-export string, not code");
    return image.base + rva;
}

}  // namespace

std::vector<std::pair<uint32_t, uint32_t>> LoadedImage::codeRanges() const {
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    for (const MappedSection& s : sections)
        if ((s.rights & kExecute) && !s.discarded) ranges.push_back({s.start, s.start + s.size});
    return ranges;
}

std::string LoadedImage::where(uint32_t address) const {
    for (const MappedSection& s : sections)
        if (address >= s.start && address < s.start + s.size)
            return name + " " + s.name + " + " + hex(address - s.start);
    return "";
}

LoadedImage Loader::load(const pe::Image& image, uint32_t base, Memory& memory, const FakeCoredll& fake,
                         const std::vector<const LoadedImage*>& exporters) {
    checkHeaders(image, base);
    LoadedImage loaded;
    loaded.name = image.exportDllName.empty() ? "image" : image.exportDllName;
    loaded.base = base;
    loaded.preferredBase = image.imageBase;
    loaded.size = image.sizeOfImage;
    if (image.directories.size() > pe::kDirExport) {
        loaded.exportDirectory = image.directories[pe::kDirExport].rva;
        loaded.exportDirectorySize = image.directories[pe::kDirExport].size;
    }

    Mapping mapping(memory);
    mapSections(image, base, mapping, memory, loaded);
    applyRelocations(image, base, memory, loaded);
    bindImports(image, base, memory, fake, exporters, loaded);
    if (image.entryPointRva) {
        loaded.entryPoint = base + image.entryPointRva;
        if (!memory.has(loaded.entryPoint, 4, kExecute))
            throw LoadRefused("the entry point at RVA " + hex(image.entryPointRva) + " is not in an executable section");
    }
    for (const MappedSection& s : loaded.sections)
        if (s.discarded) memory.unmap(s.start);
    mapping.commit();
    return loaded;
}

void Loader::unload(const LoadedImage& loaded, Memory& memory) {
    memory.unmap(loaded.base);
    for (const MappedSection& s : loaded.sections)
        if (!s.discarded) memory.unmap(s.start);
}

std::map<std::string, uint32_t> exportsByName(const Memory& memory, const LoadedImage& image) {
    ExportDirectory d = readExportDirectory(memory, image);
    std::map<std::string, uint32_t> all;
    for (uint32_t i = 0; i < d.nameCount; ++i) {
        std::string name = memory.readAString(image.base + memory.read32(d.names + 4 * i));
        // The first of two equal names is the one a linear search finds.
        if (!all.count(name)) all[name] = exportAt(memory, image, d, memory.read16(d.nameOrdinals + 2 * i), name);
    }
    return all;
}

uint32_t exportByOrdinal(const Memory& memory, const LoadedImage& image, uint16_t ordinal) {
    ExportDirectory d = readExportDirectory(memory, image);
    if (ordinal < d.base) throw BenchMisuse(image.name + " has no ordinal " + std::to_string(ordinal));
    return exportAt(memory, image, d, ordinal - d.base, "ordinal " + std::to_string(ordinal));
}

}  // namespace bench
