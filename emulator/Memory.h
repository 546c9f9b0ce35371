// The emulated address space: every mapping, who owns it, its page rights,
// and host-side access to it. Whatever is not mapped faults, so each block
// handed out here has unmapped guard pages on both sides.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct uc_struct;

namespace bench {

constexpr uint32_t kPageSize = 0x1000;

// Fixed places in the address space. Module images go anywhere below
// kPlatformArenaStart (page-aligned, see Bench::load).
constexpr uint32_t kImageSpaceStart = 0x00010000;
constexpr uint32_t kPlatformArenaStart = 0x50000000;  // memory the fake COREDLL hands out
constexpr uint32_t kCallerArenaStart = 0x60000000;    // memory of the test acting as caller
constexpr uint32_t kStackLimit = 0x7FE00000;          // lowest stack address
constexpr uint32_t kStackTop = 0x7FF00000;            // initial sp lies just below
constexpr uint32_t kTrapBase = 0xF0000000;            // COREDLL ordinal n is at kTrapBase + 4n
constexpr uint32_t kSentinelBase = 0xF1000000;        // return addresses of emulated calls

enum Rights : uint32_t { kRead = 1, kWrite = 2, kExecute = 4 };

enum class Owner { Module, Caller, Platform, Stack, Trap };

struct Region {
    uint32_t start = 0;
    uint32_t size = 0;  // whole pages
    uint32_t rights = 0;
    Owner owner = Owner::Caller;
    std::string label;
    uint32_t end() const { return start + size; }
};

// Where a block sits inside its pages.
//   AgainstEnd:   it ends at most 3 bytes before the guard page that follows,
//                 and starts at an address equal to `misalign` modulo 4; with
//                 misalign kExactEnd its last byte is the last byte of a page.
//   AgainstStart: it starts `misalign` bytes after the guard page before it.
struct Placement {
    enum Side { AgainstEnd, AgainstStart };
    static constexpr uint32_t kExactEnd = 0xFFFFFFFF;
    Side side = AgainstEnd;
    uint32_t misalign = 0;

    static Placement exactEnd() { return {AgainstEnd, kExactEnd}; }
    static Placement atEnd(uint32_t misalign) { return {AgainstEnd, misalign}; }
    static Placement atStart(uint32_t offset) { return {AgainstStart, offset}; }
};

class Memory {
public:
    explicit Memory(uc_struct* uc);
    Memory(const Memory&) = delete;
    Memory& operator=(const Memory&) = delete;

    // Maps whole pages; refuses overlaps with existing mappings.
    void map(uint32_t start, uint32_t size, uint32_t rights, Owner owner, std::string label);
    // Unmaps the region that starts exactly at `start`.
    void unmap(uint32_t start);
    const Region* regionAt(uint32_t address) const;
    bool isMapped(uint32_t address) const { return regionAt(address) != nullptr; }
    // True when every byte of [address, address + size) is mapped with `rights`.
    bool has(uint32_t address, uint32_t size, uint32_t rights) const;
    std::vector<Region> regions() const;
    // "<label> + 0x10", or for unmapped memory the nearest neighbours, for
    // fault messages.
    std::string describe(uint32_t address) const;

    // A block of `size` bytes in an arena, on fresh pages with a guard page
    // before and after. Returns the block's address.
    uint32_t allocate(Owner arena, uint32_t size, Placement placement, uint32_t rights,
                      const std::string& label);
    // A block at exactly `address`; its pages and the pages on either side
    // must be unmapped.
    void allocateAt(uint32_t address, uint32_t size, uint32_t rights, const std::string& label);
    // Unmaps the pages of a block from allocate/allocateAt.
    void release(uint32_t blockAddress);

    // Host-side access. read/write check the page rights a program would
    // need (write needs kWrite); poke writes into any mapped page.
    // All throw MemoryFault naming the first byte that fails.
    void read(uint32_t address, void* out, uint32_t size) const;
    void write(uint32_t address, const void* data, uint32_t size);
    void poke(uint32_t address, const void* data, uint32_t size);

    std::vector<uint8_t> readBytes(uint32_t address, uint32_t size) const;
    void writeBytes(uint32_t address, const std::vector<uint8_t>& bytes);
    // Little-endian fields at any address, a byte at a time.
    uint8_t read8(uint32_t address) const;
    uint16_t read16(uint32_t address) const;
    uint32_t read32(uint32_t address) const;
    void write8(uint32_t address, uint8_t value);
    void write16(uint32_t address, uint16_t value);
    void write32(uint32_t address, uint32_t value);
    // UTF-16 text up to (not including) its zero terminator; throws when no
    // terminator is found within maxUnits.
    std::u16string readWString(uint32_t address, uint32_t maxUnits = 32768) const;
    void writeWString(uint32_t address, const std::u16string& text, bool terminate = true);
    std::string readAString(uint32_t address, uint32_t maxBytes = 32768) const;

private:
    struct Block {
        uint32_t regionStart;
    };
    void check(uint32_t address, uint32_t size, uint32_t rights, const char* what) const;
    void store(uint32_t address, const void* data, uint32_t size);
    // Bytes up to (not including) the first all-zero unit of unitSize bytes.
    std::vector<uint8_t> readUntilZero(uint32_t address, uint32_t maxUnits, uint32_t unitSize) const;
    uint32_t reservePages(Owner arena, uint32_t pages);

    uc_struct* uc_;
    std::map<uint32_t, Region> regions_;  // by start
    std::map<uint32_t, Block> blocks_;    // by block address
    uint32_t nextCaller_ = kCallerArenaStart;
    uint32_t nextPlatform_ = kPlatformArenaStart;
};

}  // namespace bench
