// The export directory: the DLL name, one address slot per ordinal from the
// ordinal base to the highest ordinal (zero where the table has no row), and
// the names sorted in byte order with their address-table indexes.
//
//   directory | address table | name pointers | name ordinals | DLL name | names
#pragma once

#include "formats/exporttable/ExportTable.h"

#include <cstdint>
#include <string>
#include <vector>

namespace imagewriter {

class ExportDirectory {
public:
    // addressRvas is parallel to table.rows().
    ExportDirectory(const velmark::ExportTable& table, const std::vector<uint32_t>& addressRvas,
                    std::string dllName);

    uint32_t size() const { return size_; }
    // The directory's bytes when placed at rva.
    std::vector<uint8_t> bytes(uint32_t rva) const;

private:
    struct Name {
        std::string text;
        uint16_t index = 0;  // into the address table
    };
    std::string dllName_;
    std::vector<uint32_t> addresses_;
    std::vector<Name> names_;  // sorted
    uint32_t addressesOffset_ = 0;
    uint32_t namePointersOffset_ = 0;
    uint32_t ordinalsOffset_ = 0;
    uint32_t dllNameOffset_ = 0;
    uint32_t namesOffset_ = 0;
    uint32_t size_ = 0;
};

}  // namespace imagewriter
