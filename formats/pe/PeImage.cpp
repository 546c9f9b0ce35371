#include "formats/pe/PeImage.h"

#include "formats/common/Hex.h"
#include "formats/common/Printable.h"

#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeFormat.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <type_traits>

namespace pe {
namespace {

using namespace format;

using velmark::hex;

[[noreturn]] void fail(const std::string& message) {
    throw PeFormatError(message);
}

// A name from the file as error messages show it.
std::string shortName(std::string_view name) { return velmark::printable(name, 64); }

// Error labels are built only when an error is raised: a label naming a long
// DLL name, built for each of many entries, would cost time and memory in
// proportion to entries times name length.
template <class Describe>
std::string describe(const Describe& what) {
    if constexpr (std::is_invocable_v<Describe>)
        return what();
    else
        return std::string(what);
}

// Checks that [offset, offset + size) lies inside the file; `what` names the
// structure for the error.
template <class Describe>
void requireFileRange(const Image& image, uint64_t offset, uint64_t size, const Describe& what) {
    uint64_t fileSize = image.file.size();
    if (offset > fileSize || size > fileSize - offset)
        fail(describe(what) + " at file offset " + hex(offset) + " (" + std::to_string(size) +
             " bytes) lies outside the " + std::to_string(fileSize) + "-byte file");
}

// The file offset of [rva, rva + size), which must lie in the file data of one
// section; `what` names the structure for the error.
template <class Describe>
uint64_t fileOffsetOf(const Image& image, uint64_t rva, uint64_t size, const Describe& what) {
    const Section* section = rva <= UINT32_MAX ? image.sectionAt(uint32_t(rva)) : nullptr;
    if (!section) fail(describe(what) + " (RVA " + hex(rva) + ") points outside the image's sections");
    uint64_t within = rva - section->virtualAddress;
    uint64_t backed = section->fileBackedSize();
    if (within > backed || size > backed - within)
        fail(describe(what) + " (RVA " + hex(rva) + ", " + std::to_string(size) +
             " bytes) runs past the file data of section " + shortName(section->name));
    return section->rawOffset + within;
}

template <class Describe>
uint32_t read32At(const Image& image, uint64_t rva, const Describe& what) {
    return loadLe32(image.file.data() + fileOffsetOf(image, rva, 4, what));
}

// Where the first NUL at or after a file offset lies, remembered for every
// scan made: names that share a tail (entries pointing into one long name at
// different places) are scanned once altogether, not once each.
class NulIndex {
public:
    explicit NulIndex(const std::vector<uint8_t>& file) : file_(file) {}

    // The offset of the first NUL at or after `offset`, or the file size.
    uint64_t nulFrom(uint64_t offset) {
        auto next = known_.upper_bound(offset);
        if (next != known_.begin()) {
            auto previous = std::prev(next);
            if (offset <= previous->second) return previous->second;
        }
        // No known run covers `offset`: scan up to the next known start.
        uint64_t stop = next == known_.end() ? file_.size() : next->first;
        const uint8_t* found = static_cast<const uint8_t*>(std::memchr(file_.data() + offset, 0, stop - offset));
        uint64_t nul = found ? uint64_t(found - file_.data()) : next == known_.end() ? file_.size() : next->second;
        known_.emplace(offset, nul);
        return nul;
    }

private:
    const std::vector<uint8_t>& file_;
    std::map<uint64_t, uint64_t> known_;  // scan start -> first NUL from there
};

// The NUL-terminated string at rva; it must end inside its section's file data.
template <class Describe>
std::string_view readString(const Image& image, uint64_t rva, const Describe& what, NulIndex* index = nullptr) {
    uint64_t offset = fileOffsetOf(image, rva, 0, what);
    const Section* section = image.sectionAt(uint32_t(rva));
    uint64_t available = section->fileBackedSize() - (rva - section->virtualAddress);
    const char* start = reinterpret_cast<const char*>(image.file.data() + offset);
    uint64_t length = 0;
    if (index) {
        length = index->nulFrom(offset) - offset;
    } else {
        const void* end = std::memchr(start, 0, available);
        length = end ? uint64_t(static_cast<const char*>(end) - start) : available;
    }
    if (length >= available)
        fail(describe(what) + " (RVA " + hex(rva) + ") has no terminating NUL inside section " + shortName(section->name));
    return std::string_view(start, length);
}

void readFileHeader(Image& image, uint32_t& fileHeader) {
    requireFileRange(image, 0, kDosHeaderSize, "DOS header");
    const uint8_t* f = image.file.data();
    if (loadLe16(f) != kDosMagic) fail("DOS header has no MZ signature");
    uint32_t peOffset = loadLe32(f + kDosNewHeaderField);
    requireFileRange(image, peOffset, kPeSignatureSize + kFileHeaderSize, "PE signature and file header");
    if (loadLe32(f + peOffset) != kPeSignature)
        fail("PE signature at file offset " + hex(peOffset) + " is missing");
    fileHeader = peOffset + kPeSignatureSize;
    const uint8_t* fh = f + fileHeader;
    image.machine = loadLe16(fh + kFhMachine);
    image.timeDateStamp = loadLe32(fh + kFhTimeDateStamp);
    image.sizeOfOptionalHeader = loadLe16(fh + kFhSizeOfOptionalHeader);
    image.fileCharacteristics = loadLe16(fh + kFhCharacteristics);
}

void readOptionalHeader(Image& image, uint32_t optionalHeader) {
    if (image.sizeOfOptionalHeader < kOhDataDirectories)
        fail("optional header of " + std::to_string(image.sizeOfOptionalHeader) +
             " bytes is shorter than the " + std::to_string(kOhDataDirectories) + "-byte PE32 fixed part");
    requireFileRange(image, optionalHeader, image.sizeOfOptionalHeader, "optional header");
    const uint8_t* oh = image.file.data() + optionalHeader;
    image.optionalMagic = loadLe16(oh + kOhMagic);
    if (image.optionalMagic != kOptionalMagicPe32)
        fail("optional header magic " + hex(image.optionalMagic) + " is not PE32 (0x10B)");
    image.sizeOfCode = loadLe32(oh + kOhSizeOfCode);
    image.sizeOfInitializedData = loadLe32(oh + kOhSizeOfInitializedData);
    image.sizeOfUninitializedData = loadLe32(oh + kOhSizeOfUninitializedData);
    image.entryPointRva = loadLe32(oh + kOhAddressOfEntryPoint);
    image.baseOfCode = loadLe32(oh + kOhBaseOfCode);
    image.baseOfData = loadLe32(oh + kOhBaseOfData);
    image.imageBase = loadLe32(oh + kOhImageBase);
    image.sectionAlignment = loadLe32(oh + kOhSectionAlignment);
    image.fileAlignment = loadLe32(oh + kOhFileAlignment);
    image.osMajor = loadLe16(oh + kOhMajorOperatingSystemVersion);
    image.osMinor = loadLe16(oh + kOhMinorOperatingSystemVersion);
    image.imageMajor = loadLe16(oh + kOhMajorImageVersion);
    image.imageMinor = loadLe16(oh + kOhMinorImageVersion);
    image.subsystemMajor = loadLe16(oh + kOhMajorSubsystemVersion);
    image.subsystemMinor = loadLe16(oh + kOhMinorSubsystemVersion);
    image.sizeOfImage = loadLe32(oh + kOhSizeOfImage);
    image.sizeOfHeaders = loadLe32(oh + kOhSizeOfHeaders);
    image.checkSum = loadLe32(oh + kOhCheckSum);
    image.subsystem = loadLe16(oh + kOhSubsystem);
    image.dllCharacteristics = loadLe16(oh + kOhDllCharacteristics);
    image.stackReserve = loadLe32(oh + kOhSizeOfStackReserve);
    image.stackCommit = loadLe32(oh + kOhSizeOfStackCommit);
    image.heapReserve = loadLe32(oh + kOhSizeOfHeapReserve);
    image.heapCommit = loadLe32(oh + kOhSizeOfHeapCommit);
    image.numberOfRvaAndSizes = loadLe32(oh + kOhNumberOfRvaAndSizes);
    if (image.numberOfRvaAndSizes > kDataDirectoryCount)
        fail("NumberOfRvaAndSizes " + std::to_string(image.numberOfRvaAndSizes) + " exceeds the " +
             std::to_string(kDataDirectoryCount) + " data directories");
    uint32_t directoriesEnd = kOhDataDirectories + image.numberOfRvaAndSizes * kDataDirectorySize;
    if (directoriesEnd > image.sizeOfOptionalHeader)
        fail("optional header of " + std::to_string(image.sizeOfOptionalHeader) + " bytes cannot hold " +
             std::to_string(image.numberOfRvaAndSizes) + " data directories");
    image.directories.assign(kDataDirectoryCount, DataDirectory{});
    for (uint32_t i = 0; i < image.numberOfRvaAndSizes; ++i) {
        const uint8_t* d = oh + kOhDataDirectories + i * kDataDirectorySize;
        image.directories[i] = {loadLe32(d), loadLe32(d + 4)};
    }
}

void readSections(Image& image, uint32_t fileHeader, uint32_t sectionTable) {
    uint16_t count = loadLe16(image.file.data() + fileHeader + kFhNumberOfSections);
    requireFileRange(image, sectionTable, uint64_t(count) * kSectionHeaderSize, "section table");
    uint64_t previousEnd = image.sizeOfHeaders;
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* sh = image.file.data() + sectionTable + i * kSectionHeaderSize;
        Section s;
        const char* name = reinterpret_cast<const char*>(sh + kShName);
        s.name.assign(name, strnlen(name, kShNameSize));
        s.virtualSize = loadLe32(sh + kShVirtualSize);
        s.virtualAddress = loadLe32(sh + kShVirtualAddress);
        s.rawSize = loadLe32(sh + kShSizeOfRawData);
        s.rawOffset = loadLe32(sh + kShPointerToRawData);
        s.characteristics = loadLe32(sh + kShCharacteristics);
        std::string label = "section " + std::to_string(i) + " (" + shortName(s.name) + ")";
        if (s.rawSize) requireFileRange(image, s.rawOffset, s.rawSize, "raw data of " + label);
        if (s.virtualAddress < previousEnd)
            fail(label + " at RVA " + hex(s.virtualAddress) +
                 (i == 0 ? " overlaps the headers" : " overlaps the section before it"));
        uint64_t end = uint64_t(s.virtualAddress) + s.span();
        if (end > image.sizeOfImage)
            fail(label + " ends at RVA " + hex(end) + ", beyond SizeOfImage " + hex(image.sizeOfImage));
        previousEnd = end;
        image.sections.push_back(std::move(s));
    }
}

void readExports(Image& image) {
    const DataDirectory& dir = image.directories[kDirExport];
    if (dir.rva == 0) return;
    const uint8_t* ed = image.file.data() + fileOffsetOf(image, dir.rva, kExportDirectorySize, "export directory");
    uint32_t functionCount = loadLe32(ed + kEdNumberOfFunctions);
    uint32_t nameCount = loadLe32(ed + kEdNumberOfNames);
    uint32_t functionsRva = loadLe32(ed + kEdAddressOfFunctions);
    uint32_t namesRva = loadLe32(ed + kEdAddressOfNames);
    uint32_t ordinalsRva = loadLe32(ed + kEdAddressOfNameOrdinals);
    image.exportDllName = std::string(readString(image, loadLe32(ed + kEdName), "export directory DLL name"));
    image.ordinalBase = loadLe32(ed + kEdBase);

    if (functionCount) {
        const uint8_t* functions = image.file.data() +
            fileOffsetOf(image, functionsRva, uint64_t(functionCount) * 4,
                         "export address table of " + std::to_string(functionCount) + " entries");
        for (uint32_t i = 0; i < functionCount; ++i) image.exportAddresses.push_back(loadLe32(functions + 4 * i));
    }
    if (!nameCount) return;
    NulIndex index(image.file);
    const uint8_t* names = image.file.data() +
        fileOffsetOf(image, namesRva, uint64_t(nameCount) * 4,
                     "export name pointer table of " + std::to_string(nameCount) + " entries");
    const uint8_t* ordinals = image.file.data() +
        fileOffsetOf(image, ordinalsRva, uint64_t(nameCount) * 2,
                     "export ordinal table of " + std::to_string(nameCount) + " entries");
    for (uint32_t i = 0; i < nameCount; ++i) {
        NamedExport named;
        named.name = readString(image, loadLe32(names + 4 * i),
                                [i] { return "export name pointer " + std::to_string(i); }, &index);
        uint16_t index = loadLe16(ordinals + 2 * i);
        if (index >= functionCount)
            fail("export name " + std::to_string(i) + " (" + shortName(named.name) + ") has address-table index " +
                 std::to_string(index) + " beyond the " + std::to_string(functionCount) + " addresses");
        uint64_t ordinal = uint64_t(image.ordinalBase) + index;
        if (ordinal > UINT16_MAX)
            fail("export name " + std::to_string(i) + " (" + shortName(named.name) + ") has ordinal " +
                 std::to_string(ordinal) + ", beyond 65535");
        named.ordinal = uint16_t(ordinal);
        image.namedExports.push_back(std::move(named));
    }
}

Import readImportEntry(const Image& image, const ImportedLibrary& library, uint32_t index, uint32_t entry,
                       NulIndex& names) {
    auto label = [&library, index] {
        return "import lookup entry " + std::to_string(index) + " of " + shortName(library.dllName);
    };
    Import import;
    import.slotRva = uint32_t(library.iatRva + 4ull * index);
    fileOffsetOf(image, uint64_t(library.iatRva) + 4ull * index, 4, [&label] { return "IAT slot of " + label(); });
    if (entry & kImportByOrdinal) {
        if (entry & kImportOrdinalReserved) fail(label() + " (" + hex(entry) + ") has reserved bits set");
        import.byOrdinal = true;
        import.ordinal = uint16_t(entry);
        return import;
    }
    const uint8_t* hint =
        image.file.data() + fileOffsetOf(image, entry, kHintSize, [&label] { return "hint/name entry of " + label(); });
    import.hint = loadLe16(hint);
    import.name = readString(image, uint64_t(entry) + kHintSize, [&label] { return "name of " + label(); }, &names);
    return import;
}

void readImports(Image& image) {
    const DataDirectory& dir = image.directories[kDirImport];
    if (dir.rva == 0) return;
    NulIndex names(image.file);
    for (uint32_t index = 0;; ++index) {
        auto label = [index] { return "import descriptor " + std::to_string(index); };
        const uint8_t* id = image.file.data() +
            fileOffsetOf(image, uint64_t(dir.rva) + uint64_t(index) * kImportDescriptorSize,
                         kImportDescriptorSize, label);
        uint32_t lookupRva = loadLe32(id + kIdOriginalFirstThunk);
        uint32_t nameRva = loadLe32(id + kIdName);
        uint32_t iatRva = loadLe32(id + kIdFirstThunk);
        if (lookupRva == 0 && nameRva == 0 && iatRva == 0) return;

        ImportedLibrary library;
        library.dllName = readString(image, nameRva, [&label] { return label() + " DLL name"; }, &names);
        if (iatRva == 0) fail(label() + " (" + shortName(library.dllName) + ") has no IAT");
        library.lookupTableRva = lookupRva;
        library.iatRva = iatRva;
        // Without a lookup table the IAT on disk serves as one.
        uint32_t walkRva = lookupRva ? lookupRva : iatRva;
        for (uint32_t i = 0;; ++i) {
            uint32_t entry = read32At(image, uint64_t(walkRva) + 4ull * i, [&library, i] {
                return "import lookup entry " + std::to_string(i) + " of " + shortName(library.dllName);
            });
            if (entry == 0) break;
            library.entries.push_back(readImportEntry(image, library, i, entry, names));
        }
        image.imports.push_back(std::move(library));
    }
}

// Bytes a relocation of this type changes at its RVA.
uint32_t relocationWidth(uint16_t type) {
    switch (type) {
    case 1: case 2: case 4: return 2;  // HIGH, LOW, HIGHADJ
    case 10: return 8;                 // DIR64
    default: return 4;
    }
}

void readRelocations(Image& image) {
    const DataDirectory& dir = image.directories[kDirBaseReloc];
    if (dir.rva == 0 || dir.size == 0) return;
    const uint8_t* base = image.file.data() + fileOffsetOf(image, dir.rva, dir.size, "base relocation directory");
    uint32_t pos = 0;
    while (pos < dir.size) {
        std::string label = "base relocation block at directory offset " + hex(pos);
        if (dir.size - pos < kRelocBlockHeaderSize)
            fail(label + " is cut short: its header needs 8 bytes, " + std::to_string(dir.size - pos) + " remain");
        RelocationBlock block;
        block.pageRva = loadLe32(base + pos);
        block.sizeOfBlock = loadLe32(base + pos + 4);
        if (block.sizeOfBlock < kRelocBlockHeaderSize || block.sizeOfBlock % kRelocEntrySize)
            fail(label + " has size " + std::to_string(block.sizeOfBlock) + "; a block is at least 8 bytes and even");
        if (block.sizeOfBlock > dir.size - pos)
            fail(label + " of " + std::to_string(block.sizeOfBlock) + " bytes runs past the end of the directory");
        block.entryCount = (block.sizeOfBlock - kRelocBlockHeaderSize) / kRelocEntrySize;
        for (uint32_t i = 0; i < block.entryCount; ++i) {
            uint16_t entry = loadLe16(base + pos + kRelocBlockHeaderSize + kRelocEntrySize * i);
            uint16_t type = entry >> 12;
            if (type == kRelocAbsolute) {
                ++block.absoluteCount;
                continue;
            }
            uint64_t rva = uint64_t(block.pageRva) + (entry & 0xFFF);
            if (rva + relocationWidth(type) > image.sizeOfImage)
                fail("base relocation entry " + std::to_string(i) + " of the " + label + " targets RVA " +
                     hex(rva) + ", outside the image");
            image.relocations.push_back({uint32_t(rva), type});
            if (type == 4) ++i;  // HIGHADJ: the next entry holds its low half, not a location
        }
        image.relocationBlocks.push_back(block);
        pos += block.sizeOfBlock;
    }
}

}  // namespace

const Section* Image::sectionAt(uint32_t rva) const {
    for (const Section& s : sections) {
        if (rva >= s.virtualAddress && rva - s.virtualAddress < s.span()) return &s;
    }
    return nullptr;
}

std::vector<uint8_t> Image::bytesAt(uint32_t rva, uint32_t size) const {
    const uint8_t* start = file.data() + fileOffsetAt(rva, size);
    return std::vector<uint8_t>(start, start + size);
}

uint32_t Image::fileOffsetAt(uint32_t rva, uint32_t size) const {
    return uint32_t(fileOffsetOf(*this, rva, size, "requested range"));
}

uint32_t Image::read32(uint32_t rva) const {
    return read32At(*this, rva, "requested word");
}

std::string_view Image::stringAt(uint32_t rva) const {
    return readString(*this, rva, "requested string");
}

Image readImage(std::vector<uint8_t> bytes) {
    Image image;
    image.file = std::move(bytes);
    uint32_t fileHeader = 0;
    readFileHeader(image, fileHeader);
    uint32_t optionalHeader = fileHeader + kFileHeaderSize;
    readOptionalHeader(image, optionalHeader);
    readSections(image, fileHeader, optionalHeader + image.sizeOfOptionalHeader);
    readExports(image);
    readImports(image);
    readRelocations(image);
    return image;
}

Image readImageFile(const std::string& path) {
    // A directory opens as a stream and fails only on reading, with the
    // library's own words and no name.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw PeFormatError(path + ": cannot be read: it is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw PeFormatError(path + ": cannot be read");
    std::vector<uint8_t> bytes;
    try {
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::exception& e) {
        throw PeFormatError(path + ": cannot be read: " + e.what());
    }
    try {
        return readImage(std::move(bytes));
    } catch (const PeFormatError& e) {
        throw PeFormatError(path + ": " + e.what());
    }
}

}  // namespace pe
