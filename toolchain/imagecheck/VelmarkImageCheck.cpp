#include "toolchain/imagecheck/VelmarkImageCheck.h"

#include "formats/common/DllNames.h"
#include "formats/common/Hex.h"
#include "formats/common/Printable.h"
#include "formats/pe/ByteOrder.h"
#include "formats/pe/Forwarder.h"
#include "formats/pe/ImageSummary.h"
#include "formats/pe/PeFormat.h"

#include <map>
#include <set>

namespace velmark::imagecheck {
namespace {

const char* const kVelmarkName = velmark::kVelmarkDllName;
const char* const kCoredllName = velmark::kCoredllDllName;
using velmark::hex;

std::string label(const velmark::ExportEntry& row) {
    return "ordinal " + std::to_string(row.ordinal) + " " + row.name;
}

std::string describe(const pe::Import& entry) {
    return entry.byOrdinal ? "ordinal " + std::to_string(entry.ordinal) : "name " + quoted(entry.name);
}

std::string describe(const velmark::ImportEntry& entry) {
    return entry.byName ? "name \"" + entry.name + "\"" : "ordinal " + std::to_string(entry.ordinal);
}

// What the Windows CE loader needs to accept the module as VELMARK.
void checkIdentity(const pe::Image& image, std::vector<std::string>& out) {
    if (image.exportDllName != kVelmarkName)
        out.push_back("export directory names the DLL " + quoted(image.exportDllName) + ", not \"" + kVelmarkName + "\"");
    if (image.machine != pe::kMachineArm)
        out.push_back("machine " + pe::machineLabel(image.machine) + " is not ARM (0x1C0)");
    if (image.subsystem != pe::kSubsystemWindowsCeGui)
        out.push_back("subsystem " + std::to_string(image.subsystem) + " is not Windows CE GUI (9)");
    if (image.subsystemMajor != 4 || image.subsystemMinor != 10)
        out.push_back("subsystem version " + std::to_string(image.subsystemMajor) + "." +
                      std::to_string(image.subsystemMinor) + " is not 4.10");
    if (!(image.fileCharacteristics & pe::format::kFileDll)) out.push_back("the image is not marked as a DLL");
    if ((image.fileCharacteristics & pe::format::kFileRelocsStripped) || image.relocations.empty())
        out.push_back("the image has no base relocations, so it can only load at its preferred base");
}

bool executable(const pe::Image& image, uint32_t rva) {
    const pe::Section* s = image.sectionAt(rva);
    return s && (s->characteristics & pe::kSectionExecute);
}

void checkAddressTable(const pe::Image& image, const velmark::ExportTable& table, VelmarkCheck& check) {
    std::vector<std::string>& out = check.mismatches;
    if (image.ordinalBase != velmark::kOrdinalBase)
        out.push_back("ordinal base is " + std::to_string(image.ordinalBase) + ", not " +
                      std::to_string(velmark::kOrdinalBase));
    const uint32_t highest = table.rows().empty() ? 0 : table.rows().back().ordinal;
    const size_t expected = highest - velmark::kOrdinalBase + 1;
    if (image.exportAddresses.size() != expected)
        out.push_back("export address table has " + std::to_string(image.exportAddresses.size()) + " slots, not " +
                      std::to_string(expected) + " (ordinals " + std::to_string(velmark::kOrdinalBase) + " to " +
                      std::to_string(highest) + ")");
    for (size_t i = 0; i < image.exportAddresses.size(); ++i) {
        const uint64_t ordinal = uint64_t(image.ordinalBase) + i;
        const uint32_t rva = image.exportAddresses[i];
        const velmark::ExportEntry* row = ordinal <= UINT16_MAX ? table.findOrdinal(uint16_t(ordinal)) : nullptr;
        if (!row && rva)
            out.push_back("ordinal " + std::to_string(ordinal) + " is exported (RVA " + hex(rva) +
                          ") but the table has no such row");
        else if (row && !rva)
            out.push_back(label(*row) + " has no address in the export address table");
        else if (row && !executable(image, rva))
            out.push_back(label(*row) + " is exported at RVA " + hex(rva) + ", outside the executable sections");
    }
    for (const velmark::ExportEntry& row : table.rows()) {
        if (row.ordinal < image.ordinalBase || row.ordinal - image.ordinalBase >= image.exportAddresses.size())
            out.push_back(label(row) + " lies beyond the export address table");
        else
            ++check.exportsChecked;
    }
}

// Lookup by name is a binary search over the name pointer table, so the
// order matters as much as the names themselves.
void checkNames(const pe::Image& image, const velmark::ExportTable& table, std::vector<std::string>& out) {
    std::map<std::string_view, const velmark::ExportEntry*> rowsByName;
    for (const velmark::ExportEntry& row : table.rows()) rowsByName[row.name] = &row;
    std::set<std::string_view> exported;
    for (size_t i = 0; i < image.namedExports.size(); ++i) {
        const pe::NamedExport& named = image.namedExports[i];
        if (i > 0 && !(image.namedExports[i - 1].name < named.name))
            out.push_back("export names " + std::to_string(i - 1) + " and " + std::to_string(i) + " (" +
                          quoted(image.namedExports[i - 1].name) + ", " + quoted(named.name) +
                          ") are not in ascending byte order, so lookup by name can miss them");
        exported.insert(named.name);
        auto row = rowsByName.find(named.name);
        if (row == rowsByName.end())
            out.push_back("name " + quoted(named.name) + " is exported (ordinal " + std::to_string(named.ordinal) +
                          ") but the table has no such row");
        else if (row->second->ordinal != named.ordinal)
            out.push_back(label(*row->second) + " is exported by name at ordinal " + std::to_string(named.ordinal));
    }
    for (const velmark::ExportEntry& row : table.rows())
        if (!exported.count(row.name)) out.push_back(label(row) + " is not exported by name");
}

// Returns each import's IAT slot RVA by the ordinal of the row it serves.
std::map<uint16_t, uint32_t> checkImports(const pe::Image& image, const velmark::ExportTable& table,
                                          VelmarkCheck& check) {
    std::vector<std::string>& out = check.mismatches;
    std::map<uint16_t, uint32_t> slots;
    if (image.imports.size() != 1)
        out.push_back("imports from " + std::to_string(image.imports.size()) + " libraries; VELMARK.dll imports from " +
                      kCoredllName + " alone");
    if (image.imports.empty()) return slots;
    const pe::ImportedLibrary& library = image.imports.front();
    if (library.dllName != kCoredllName)
        out.push_back("imports from " + quoted(library.dllName) + ", not \"" + kCoredllName + "\"");
    const std::vector<velmark::ImportEntry> expected = table.imports();
    if (library.entries.size() != expected.size())
        out.push_back("imports " + std::to_string(library.entries.size()) + " entries from " + printable(library.dllName) +
                      "; the table calls for " + std::to_string(expected.size()));
    for (size_t i = 0; i < expected.size() && i < library.entries.size(); ++i) {
        const pe::Import& found = library.entries[i];
        const velmark::ImportEntry& want = expected[i];
        bool same = want.byName ? !found.byOrdinal && found.name == want.name
                                : found.byOrdinal && found.ordinal == want.ordinal;
        if (!same) {
            out.push_back("import entry " + std::to_string(i) + " is " + describe(found) + "; the table calls for " +
                          describe(want));
            continue;
        }
        slots[want.ordinal] = found.slotRva;
        ++check.importsChecked;
    }
    return slots;
}

void checkForwarder(const pe::Image& image, const velmark::ExportEntry& row, uint32_t rva,
                    const std::map<uint16_t, uint32_t>& slots, std::vector<std::string>& out) {
    std::vector<uint8_t> code;
    try {
        code = image.bytesAt(rva, pe::kForwarderSize);
    } catch (const pe::PeFormatError&) {
        out.push_back(label(row) + ": its forwarder at RVA " + hex(rva) + " is not in the file");
        return;
    }
    if (rva % 4) out.push_back(label(row) + ": its forwarder at RVA " + hex(rva) + " is not word-aligned");
    const uint32_t first = pe::loadLe32(code.data()), second = pe::loadLe32(code.data() + 4);
    const std::optional<uint32_t> target = pe::decodeForwarder(rva, first, second);
    auto slot = slots.find(row.ordinal);
    if (!target)
        out.push_back(label(row) + ": the code at RVA " + hex(rva) + " (" + hex(first) + " " + hex(second) +
                      ") is not a forwarder (add/sub ip, pc; ldr pc, [ip])");
    else if (slot == slots.end())
        out.push_back(label(row) + ": the import table has no entry for it to forward through");
    else if (*target != slot->second)
        out.push_back(label(row) + ": its forwarder jumps through RVA " + hex(*target) + ", not its IAT slot " +
                      hex(slot->second));
}

void checkCode(const pe::Image& image, const velmark::ExportTable& table, const std::map<uint16_t, uint32_t>& slots,
               VelmarkCheck& check) {
    std::map<uint32_t, const velmark::ExportEntry*> forwarderAt;
    auto addressOf = [&](const velmark::ExportEntry& row) -> uint32_t {
        size_t index = row.ordinal - image.ordinalBase;
        return row.ordinal >= image.ordinalBase && index < image.exportAddresses.size() ? image.exportAddresses[index]
                                                                                           : 0;
    };
    for (const velmark::ExportEntry& row : table.rows()) {
        uint32_t rva = addressOf(row);
        if (!row.forwarded() || !rva) continue;  // a missing address is reported with the address table
        checkForwarder(image, row, rva, slots, check.mismatches);
        forwarderAt.emplace(rva, &row);
        ++check.forwardersChecked;
    }
    // An override exported at a forwarder's address would never run.
    for (const velmark::ExportEntry& row : table.rows()) {
        if (row.forwarded()) continue;
        auto shared = forwarderAt.find(addressOf(row));
        if (shared != forwarderAt.end())
            check.mismatches.push_back(label(row) + " is exported at the forwarder of " + label(*shared->second) +
                                       " instead of the module's own code");
    }
}

}  // namespace

bool isVelmarkImage(const pe::Image& image) {
    return sameDllName(image.exportDllName, kVelmarkName);
}

VelmarkCheck checkVelmarkImage(const pe::Image& image, const velmark::ExportTable& table) {
    VelmarkCheck check;
    checkIdentity(image, check.mismatches);
    checkAddressTable(image, table, check);
    checkNames(image, table, check.mismatches);
    std::map<uint16_t, uint32_t> slots = checkImports(image, table, check);
    checkCode(image, table, slots, check);
    return check;
}

}  // namespace velmark::imagecheck
