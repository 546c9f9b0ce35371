// A strict reader for PE32 images: headers, sections, exports, imports and
// base relocations. Every offset is checked against the file before use; a
// malformed image raises PeFormatError naming the structure that is wrong.
// Names (export names, imported DLL and function names) are views into the
// image's own file bytes: each is read once however many entries point at
// it, so reading needs memory in proportion to the file, not to the names.
#pragma once

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pe {

class PeFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr uint16_t kMachineArm = 0x1C0;
constexpr uint16_t kMachineArmv4i = 0x1C2;  // ARM with Thumb interworking
constexpr uint16_t kSubsystemWindowsCeGui = 9;

constexpr uint32_t kSectionCode = 0x00000020;
constexpr uint32_t kSectionInitializedData = 0x00000040;
constexpr uint32_t kSectionUninitializedData = 0x00000080;
constexpr uint32_t kSectionDiscardable = 0x02000000;
constexpr uint32_t kSectionExecute = 0x20000000;
constexpr uint32_t kSectionRead = 0x40000000;
constexpr uint32_t kSectionWrite = 0x80000000;

constexpr uint16_t kRelocAbsolute = 0;
constexpr uint16_t kRelocHighLow = 3;

struct Section {
    std::string name;
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t rawOffset = 0;
    uint32_t rawSize = 0;
    uint32_t characteristics = 0;

    // The bytes the section maps (VirtualSize, or SizeOfRawData when that is
    // 0), and of those the ones the file backs.
    uint32_t span() const { return virtualSize ? virtualSize : rawSize; }
    uint32_t fileBackedSize() const { return span() < rawSize ? span() : rawSize; }
};

struct DataDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

struct NamedExport {
    std::string_view name;
    uint16_t ordinal = 0;  // biased: address-table index + ordinal base
};

struct Import {
    bool byOrdinal = false;
    uint16_t ordinal = 0;   // when byOrdinal
    uint16_t hint = 0;      // when by name
    std::string_view name;  // when by name
    uint32_t slotRva = 0;   // this entry's IAT slot
};

struct ImportedLibrary {
    std::string_view dllName;
    uint32_t lookupTableRva = 0;  // OriginalFirstThunk
    uint32_t iatRva = 0;          // FirstThunk
    std::vector<Import> entries;
};

struct BaseRelocation {
    uint32_t rva = 0;
    uint16_t type = 0;
};

// One block of the base relocation directory as it lies in the file.
struct RelocationBlock {
    uint32_t pageRva = 0;
    uint32_t sizeOfBlock = 0;
    uint32_t entryCount = 0;     // every entry, ABSOLUTE padding included
    uint32_t absoluteCount = 0;  // ABSOLUTE (padding) entries
};

struct Image {
    Image() = default;
    // The names are views into `file`: a copy would point into the original.
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    Image(Image&&) = default;
    Image& operator=(Image&&) = default;

    std::vector<uint8_t> file;
    // Text of names that do not come from `file` (images built by hand).
    std::deque<std::string> heldNames;
    std::string_view holdName(std::string name) { return heldNames.emplace_back(std::move(name)); }

    uint16_t machine = 0;
    uint16_t fileCharacteristics = 0;
    uint32_t timeDateStamp = 0;
    uint16_t sizeOfOptionalHeader = 0;
    uint16_t optionalMagic = 0;
    uint32_t sizeOfCode = 0;
    uint32_t sizeOfInitializedData = 0;
    uint32_t sizeOfUninitializedData = 0;
    uint32_t entryPointRva = 0;
    uint32_t baseOfCode = 0;
    uint32_t baseOfData = 0;
    uint32_t imageBase = 0;
    uint32_t sectionAlignment = 0;
    uint32_t fileAlignment = 0;
    uint16_t osMajor = 0;
    uint16_t osMinor = 0;
    uint16_t imageMajor = 0;
    uint16_t imageMinor = 0;
    uint16_t subsystem = 0;
    uint16_t subsystemMajor = 0;
    uint16_t subsystemMinor = 0;
    uint16_t dllCharacteristics = 0;
    uint32_t sizeOfImage = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t checkSum = 0;
    uint32_t stackReserve = 0;
    uint32_t stackCommit = 0;
    uint32_t heapReserve = 0;
    uint32_t heapCommit = 0;
    uint32_t numberOfRvaAndSizes = 0;
    std::vector<DataDirectory> directories;  // always 16 entries, missing ones zero
    std::vector<Section> sections;

    // Exports (empty when there is no export directory).
    std::string exportDllName;
    uint32_t ordinalBase = 0;
    std::vector<uint32_t> exportAddresses;  // RVA per address-table slot, 0 = no such ordinal
    std::vector<NamedExport> namedExports;  // in name-table order

    std::vector<ImportedLibrary> imports;
    std::vector<BaseRelocation> relocations;  // ABSOLUTE padding entries left out
    std::vector<RelocationBlock> relocationBlocks;

    // The section holding an RVA, or nullptr.
    const Section* sectionAt(uint32_t rva) const;
    // Bytes at [rva, rva + size) as they lie in the file; throws PeFormatError
    // when the range is not backed by file data of one section.
    std::vector<uint8_t> bytesAt(uint32_t rva, uint32_t size) const;
    // Where those bytes lie in the file, under the same condition.
    uint32_t fileOffsetAt(uint32_t rva, uint32_t size) const;
    uint32_t read32(uint32_t rva) const;
    // The NUL-terminated string at rva, which must end inside the file data
    // of its section.
    std::string_view stringAt(uint32_t rva) const;
};

Image readImage(std::vector<uint8_t> bytes);
// Prefixes any error with the path.
Image readImageFile(const std::string& path);

}  // namespace pe
