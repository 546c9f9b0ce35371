#include "toolchain/imagewriter/ExportDirectory.h"

#include "formats/pe/ByteOrder.h"
#include "formats/pe/PeFormat.h"
#include "toolchain/imagewriter/ImageError.h"

#include <algorithm>
#include <cstring>

namespace imagewriter {

ExportDirectory::ExportDirectory(const velmark::ExportTable& table, const std::vector<uint32_t>& addressRvas,
                                 std::string dllName)
    : dllName_(std::move(dllName)) {
    using namespace pe::format;
    const auto& rows = table.rows();
    if (addressRvas.size() != rows.size())
        throw ImageError("export directory: " + std::to_string(addressRvas.size()) + " addresses for " +
                         std::to_string(rows.size()) + " rows");
    uint16_t highest = 0;
    for (const velmark::ExportEntry& row : rows) highest = std::max(highest, row.ordinal);
    addresses_.assign(rows.empty() ? 0 : highest - velmark::kOrdinalBase + 1, 0);
    for (size_t i = 0; i < rows.size(); ++i) {
        uint16_t index = uint16_t(rows[i].ordinal - velmark::kOrdinalBase);
        if (addressRvas[i] == 0)
            throw ImageError("export directory: export " + rows[i].name + " has address 0, which reads as no export");
        addresses_[index] = addressRvas[i];
        names_.push_back({rows[i].name, index});
    }
    // Byte order, as strcmp compares: std::string's ordering compares chars as unsigned.
    std::sort(names_.begin(), names_.end(), [](const Name& a, const Name& b) { return a.text < b.text; });

    addressesOffset_ = kExportDirectorySize;
    namePointersOffset_ = addressesOffset_ + 4 * uint32_t(addresses_.size());
    ordinalsOffset_ = namePointersOffset_ + 4 * uint32_t(names_.size());
    dllNameOffset_ = ordinalsOffset_ + 2 * uint32_t(names_.size());
    namesOffset_ = dllNameOffset_ + uint32_t(dllName_.size()) + 1;
    size_ = namesOffset_;
    for (const Name& name : names_) size_ += uint32_t(name.text.size()) + 1;
}

std::vector<uint8_t> ExportDirectory::bytes(uint32_t rva) const {
    using namespace pe::format;
    std::vector<uint8_t> out(size_);
    uint8_t* d = out.data();
    pe::storeLe32(d + kEdName, rva + dllNameOffset_);
    pe::storeLe32(d + kEdBase, velmark::kOrdinalBase);
    pe::storeLe32(d + kEdNumberOfFunctions, uint32_t(addresses_.size()));
    pe::storeLe32(d + kEdNumberOfNames, uint32_t(names_.size()));
    pe::storeLe32(d + kEdAddressOfFunctions, rva + addressesOffset_);
    pe::storeLe32(d + kEdAddressOfNames, rva + namePointersOffset_);
    pe::storeLe32(d + kEdAddressOfNameOrdinals, rva + ordinalsOffset_);

    for (size_t i = 0; i < addresses_.size(); ++i) pe::storeLe32(d + addressesOffset_ + 4 * i, addresses_[i]);
    std::memcpy(d + dllNameOffset_, dllName_.c_str(), dllName_.size() + 1);
    uint32_t nameOffset = namesOffset_;
    for (size_t i = 0; i < names_.size(); ++i) {
        pe::storeLe32(d + namePointersOffset_ + 4 * i, rva + nameOffset);
        pe::storeLe16(d + ordinalsOffset_ + 2 * i, names_[i].index);
        std::memcpy(d + nameOffset, names_[i].text.c_str(), names_[i].text.size() + 1);
        nameOffset += uint32_t(names_[i].text.size()) + 1;
    }
    return out;
}

}  // namespace imagewriter
