// The import directory for the one imported library: its descriptor and the
// null descriptor, the lookup table (OriginalFirstThunk) the loader walks,
// the hint/name entries of by-name imports and the library's name. The IAT
// itself stays where the link put it; its contents on disk are the lookup
// table's values.
//
//   descriptors | lookup table | hint/name entries | DLL name
#pragma once

#include "formats/exporttable/ExportTable.h"

#include <cstdint>
#include <string>
#include <vector>

namespace imagewriter {

class ImportDirectory {
public:
    ImportDirectory(std::vector<velmark::ImportEntry> imports, std::string dllName, uint32_t iatRva);

    uint32_t size() const { return size_; }
    // The descriptors alone, which the import data directory covers.
    uint32_t descriptorsSize() const;
    // Lookup entries when the directory sits at rva, with the zero terminator:
    // the lookup table and, equally, the IAT's contents on disk.
    std::vector<uint32_t> lookupEntries(uint32_t rva) const;
    // The directory's bytes when placed at rva.
    std::vector<uint8_t> bytes(uint32_t rva) const;

private:
    std::vector<velmark::ImportEntry> imports_;
    std::vector<uint32_t> hintNameOffsets_;  // per import; unused for by-ordinal ones
    std::string dllName_;
    uint32_t iatRva_ = 0;
    uint32_t lookupOffset_ = 0;
    uint32_t dllNameOffset_ = 0;
    uint32_t size_ = 0;
};

}  // namespace imagewriter
