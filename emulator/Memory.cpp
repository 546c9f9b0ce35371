#include "emulator/Memory.h"

#include "emulator/Fault.h"

#include <unicorn/unicorn.h>

#include <algorithm>

namespace bench {
namespace {

uint32_t pagesFor(uint32_t bytes) { return (bytes + kPageSize - 1) / kPageSize; }

uint32_t ucRights(uint32_t rights) {
    uint32_t prot = 0;
    if (rights & kRead) prot |= UC_PROT_READ;
    if (rights & kWrite) prot |= UC_PROT_WRITE;
    if (rights & kExecute) prot |= UC_PROT_EXEC;
    return prot;
}

const char* rightsName(uint32_t rights) {
    if (rights & kWrite) return "writable";
    if (rights & kExecute) return "executable";
    return "readable";
}

}  // namespace

Memory::Memory(uc_struct* uc) : uc_(uc) {}

void Memory::map(uint32_t start, uint32_t size, uint32_t rights, Owner owner, std::string label) {
    if (start % kPageSize || size == 0 || size % kPageSize)
        throw BenchMisuse("map " + label + ": " + hex(start) + "+" + hex(size) + " is not whole pages");
    if (uint64_t(start) + size > 0x100000000ull)
        throw BenchMisuse("map " + label + ": beyond the 32-bit address space");
    for (const auto& [regionStart, region] : regions_)
        if (start < region.end() && regionStart < start + size)
            throw BenchMisuse("map " + label + " at " + hex(start) + ": overlaps " + region.label);
    uc_err err = uc_mem_map(uc_, start, size, ucRights(rights));
    if (err != UC_ERR_OK) throw BenchMisuse("map " + label + ": " + uc_strerror(err));
    regions_[start] = Region{start, size, rights, owner, std::move(label)};
}

void Memory::unmap(uint32_t start) {
    auto it = regions_.find(start);
    if (it == regions_.end()) throw BenchMisuse("unmap: no region starts at " + hex(start));
    uc_mem_unmap(uc_, start, it->second.size);
    regions_.erase(it);
}

const Region* Memory::regionAt(uint32_t address) const {
    auto it = regions_.upper_bound(address);
    if (it == regions_.begin()) return nullptr;
    --it;
    return address < it->second.end() ? &it->second : nullptr;
}

bool Memory::has(uint32_t address, uint32_t size, uint32_t rights) const {
    uint64_t at = address;
    uint64_t end = uint64_t(address) + size;
    while (at < end) {
        const Region* region = regionAt(uint32_t(at));
        if (!region || (region->rights & rights) != rights) return false;
        at = region->end();
        if (at == 0) return end <= 0x100000000ull;  // region ends at the top of memory
    }
    return true;
}

std::vector<Region> Memory::regions() const {
    std::vector<Region> all;
    for (const auto& entry : regions_) all.push_back(entry.second);
    return all;
}

std::string Memory::describe(uint32_t address) const {
    if (const Region* region = regionAt(address))
        return region->label + " + " + hex(address - region->start);
    std::string text = "unmapped";
    auto after = regions_.upper_bound(address);
    if (after != regions_.begin()) {
        const Region& before = std::prev(after)->second;
        text += ", " + std::to_string(address - before.end()) + " bytes past the end of " + before.label;
    }
    if (after != regions_.end())
        text += ", " + std::to_string(after->second.start - address) + " bytes before " + after->second.label;
    return text;
}

uint32_t Memory::reservePages(Owner arena, uint32_t pages) {
    uint32_t& next = arena == Owner::Platform ? nextPlatform_ : nextCaller_;
    uint32_t limit = arena == Owner::Platform ? kCallerArenaStart : kStackLimit;
    if (arena != Owner::Platform && arena != Owner::Caller)
        throw BenchMisuse("allocate: only the caller and platform arenas hand out blocks");
    // One unmapped page before the block; the next block starts after
    // another unmapped page, so both sides stay guarded.
    uint64_t start = uint64_t(next) + kPageSize;
    uint64_t end = start + uint64_t(pages) * kPageSize;
    if (end + kPageSize > limit) throw BenchMisuse("allocate: arena exhausted");
    next = uint32_t(end);
    return uint32_t(start);
}

uint32_t Memory::allocate(Owner arena, uint32_t size, Placement placement, uint32_t rights,
                          const std::string& label) {
    uint32_t span = size;
    if (placement.side == Placement::AgainstStart) span += placement.misalign;
    else if (placement.misalign != Placement::kExactEnd) span += 3;
    uint32_t pages = pagesFor(span == 0 ? 1 : span);
    uint32_t start = reservePages(arena, pages);
    uint32_t end = start + pages * kPageSize;

    uint32_t block;
    if (placement.side == Placement::AgainstStart) {
        block = start + placement.misalign;
    } else if (placement.misalign == Placement::kExactEnd) {
        block = end - size;
    } else {
        block = end - size;
        while (block % 4 != placement.misalign % 4) --block;
    }
    map(start, pages * kPageSize, rights, arena, label);
    blocks_[block] = Block{start};
    return block;
}

void Memory::allocateAt(uint32_t address, uint32_t size, uint32_t rights, const std::string& label) {
    uint32_t start = address & ~(kPageSize - 1);
    uint32_t pages = pagesFor(address - start + (size ? size : 1));
    uint64_t end = uint64_t(start) + uint64_t(pages) * kPageSize;
    if (start < kPageSize || end + kPageSize > 0x100000000ull)
        throw BenchMisuse("allocateAt " + hex(address) + ": no room for guard pages");
    for (uint64_t page = start - kPageSize; page < end + kPageSize; page += kPageSize)
        if (isMapped(uint32_t(page)))
            throw BenchMisuse("allocateAt " + hex(address) + ": page " + hex(uint32_t(page)) +
                              " already holds " + regionAt(uint32_t(page))->label);
    map(start, uint32_t(end - start), rights, Owner::Caller, label);
    blocks_[address] = Block{start};
}

void Memory::release(uint32_t blockAddress) {
    auto it = blocks_.find(blockAddress);
    if (it == blocks_.end()) throw BenchMisuse("release: no block at " + hex(blockAddress));
    unmap(it->second.regionStart);
    blocks_.erase(it);
}

void Memory::check(uint32_t address, uint32_t size, uint32_t rights, const char* what) const {
    uint64_t end = uint64_t(address) + size;
    for (uint64_t at = address; at < end;) {
        const Region* region = regionAt(uint32_t(at));
        if (!region)
            throw MemoryFault(std::string(what) + " of " + std::to_string(size) + " bytes at " +
                                  hex(address) + " reaches unmapped memory at " + hex(uint32_t(at)),
                              uint32_t(at));
        if ((region->rights & rights) != rights)
            throw MemoryFault(std::string(what) + " at " + hex(uint32_t(at)) + ": " + region->label +
                                  " is not " + rightsName(rights),
                              uint32_t(at));
        at = uint64_t(region->start) + region->size;
    }
}

void Memory::read(uint32_t address, void* out, uint32_t size) const {
    if (size == 0) return;
    check(address, size, kRead, "read");
    uc_mem_read(uc_, address, out, size);
}

void Memory::write(uint32_t address, const void* data, uint32_t size) {
    if (size == 0) return;
    check(address, size, kWrite, "write");
    store(address, data, size);
}

void Memory::poke(uint32_t address, const void* data, uint32_t size) {
    if (size == 0) return;
    check(address, size, 0, "poke");
    store(address, data, size);
}

void Memory::store(uint32_t address, const void* data, uint32_t size) {
    uc_mem_write(uc_, address, data, size);
    // The emulator keeps translated code across host writes; without this a
    // snippet written over old code would run the old instructions.
    const Region* region = regionAt(address);
    if (region && (region->rights & kExecute)) uc_ctl_remove_cache(uc_, address, uint64_t(address) + size);
}

std::vector<uint8_t> Memory::readBytes(uint32_t address, uint32_t size) const {
    std::vector<uint8_t> bytes(size);
    read(address, bytes.data(), size);
    return bytes;
}

void Memory::writeBytes(uint32_t address, const std::vector<uint8_t>& bytes) {
    write(address, bytes.data(), uint32_t(bytes.size()));
}

uint8_t Memory::read8(uint32_t address) const {
    uint8_t b;
    read(address, &b, 1);
    return b;
}

uint16_t Memory::read16(uint32_t address) const {
    uint8_t b[2];
    read(address, b, 2);
    return uint16_t(b[0] | b[1] << 8);
}

uint32_t Memory::read32(uint32_t address) const {
    uint8_t b[4];
    read(address, b, 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

void Memory::write8(uint32_t address, uint8_t value) { write(address, &value, 1); }

void Memory::write16(uint32_t address, uint16_t value) {
    uint8_t b[2] = {uint8_t(value), uint8_t(value >> 8)};
    write(address, b, 2);
}

void Memory::write32(uint32_t address, uint32_t value) {
    uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    write(address, b, 4);
}

std::u16string Memory::readWString(uint32_t address, uint32_t maxUnits) const {
    std::vector<uint8_t> bytes = readUntilZero(address, maxUnits, 2);
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) text.push_back(char16_t(bytes[i] | bytes[i + 1] << 8));
    return text;
}

std::vector<uint8_t> Memory::readUntilZero(uint32_t address, uint32_t maxUnits, uint32_t unitSize) const {
    // In chunks that stop at the end of a mapping, so that a string that
    // ends just before a guard page is read and one that runs into it faults
    // at the first unmapped byte.
    constexpr uint32_t kChunk = 256;
    std::vector<uint8_t> bytes;
    uint64_t limit = uint64_t(maxUnits) * unitSize;
    uint64_t at = address;
    while (bytes.size() < limit) {
        const Region* region = regionAt(uint32_t(at));
        if (!region || !(region->rights & kRead))
            throw MemoryFault("a string at " + hex(address) + " runs into " + describe(uint32_t(at)), uint32_t(at));
        uint64_t count = std::min<uint64_t>({kChunk, uint64_t(region->end()) - at, limit - bytes.size()});
        if (region->end() == 0) count = std::min<uint64_t>({kChunk, 0x100000000ull - at, limit - bytes.size()});
        size_t old = bytes.size();
        bytes.resize(old + count);
        uc_mem_read(uc_, at, bytes.data() + old, count);
        at += count;
        for (size_t i = old - old % unitSize; i + unitSize <= bytes.size(); i += unitSize) {
            bool zero = true;
            for (uint32_t k = 0; k < unitSize; ++k) zero = zero && bytes[i + k] == 0;
            if (zero) {
                bytes.resize(i);
                return bytes;
            }
        }
    }
    throw MemoryFault("no terminator in the " + std::to_string(maxUnits) + " units at " + hex(address), address);
}

void Memory::writeWString(uint32_t address, const std::u16string& text, bool terminate) {
    std::vector<uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(uint8_t(unit));
        bytes.push_back(uint8_t(unit >> 8));
    }
    if (terminate) bytes.insert(bytes.end(), {0, 0});
    if (!bytes.empty()) write(address, bytes.data(), uint32_t(bytes.size()));
}

std::string Memory::readAString(uint32_t address, uint32_t maxBytes) const {
    std::vector<uint8_t> bytes = readUntilZero(address, maxBytes, 1);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace bench
