// Maps a PE image into the emulator as the Windows CE loader would: sections
// at a base other than the preferred one with page rights from their WRITE
// and EXECUTE flags, HIGHLOW base relocations applied, every COREDLL import
// bound to the fake COREDLL's trap address, and refusals with the reason
// for what the CE loader refuses.
#pragma once

#include "emulator/Memory.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace pe {
struct Image;
}

namespace bench {

class FakeCoredll;

struct MappedSection {
    std::string name;
    uint32_t start = 0;  // address
    uint32_t size = 0;   // mapped bytes (whole pages)
    uint32_t rights = 0;
    bool discarded = false;  // DISCARDABLE: unmapped once the load is done
};

struct BoundImport {
    uint16_t ordinal = 0;  // COREDLL's ordinal that the entry resolved to
    bool byName = false;
    std::string name;
    uint32_t slot = 0;    // address of the IAT slot
    uint32_t target = 0;  // what the slot now holds
};

struct LoadedImage {
    std::string name;         // the export directory's DLL name
    uint32_t base = 0;
    uint32_t preferredBase = 0;
    uint32_t size = 0;        // SizeOfImage
    uint32_t entryPoint = 0;  // 0 when the image has none
    uint32_t exportDirectory = 0, exportDirectorySize = 0;  // RVA and size
    std::vector<MappedSection> sections;
    std::vector<BoundImport> imports;
    uint32_t relocationsApplied = 0;

    // The executable sections, for instruction counting.
    std::vector<std::pair<uint32_t, uint32_t>> codeRanges() const;
    // "<name> .text + 0x1c" for an address inside the image, else "".
    std::string where(uint32_t address) const;
};

class Loader {
public:
    // Throws LoadRefused with the reason; nothing stays mapped after a refusal.
    // Imports of a library named by an image in `exporters` (its export
    // directory's name, e.g. VELMARK.dll) bind to that image's exports.
    static LoadedImage load(const pe::Image& image, uint32_t base, Memory& memory, const FakeCoredll& fake,
                            const std::vector<const LoadedImage*>& exporters = {});
    static void unload(const LoadedImage& loaded, Memory& memory);
};

// Export lookups the way a loader resolves an import: through the export
// directory as it lies in the mapped image, a name through the name table
// (the first match, as a linear search finds it), an ordinal as an index
// into the address table. Throw BenchMisuse for an ordinal without code.
uint32_t exportByOrdinal(const Memory& memory, const LoadedImage& image, uint16_t ordinal);
std::map<std::string, uint32_t> exportsByName(const Memory& memory, const LoadedImage& image);

}  // namespace bench
