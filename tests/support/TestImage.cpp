#include "tests/support/TestImage.h"

#include "formats/common/Align.h"
#include "formats/pe/ByteOrder.h"
#include "formats/pe/Forwarder.h"
#include "formats/pe/PeImage.h"
#include "tests/support/ResourceImage.h"
#include "velmark/lib/ImageOffsets.h"

#include <algorithm>
#include <cstring>

namespace velmark::testing {
namespace {

constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kImageBase = 0x00010000;
constexpr uint32_t kPeOffset = 0x40;
constexpr uint32_t kTextRva = 0x1000, kTextRaw = 0x200;
// A kilobyte of code-like bytes: an image that is mostly zero bytes draws a
// "truncation" warning from pefile, which real applications never get.
constexpr uint32_t kTextSize = 0x400;
constexpr uint32_t kIdataRva = 0x2000, kIdataRaw = kTextRaw + kTextSize;

void put16(std::vector<uint8_t>& f, uint32_t at, uint16_t v) { pe::storeLe16(f.data() + at, v); }
void put32(std::vector<uint8_t>& f, uint32_t at, uint32_t v) { pe::storeLe32(f.data() + at, v); }

struct Slot {
    std::string name;
    uint32_t rva;
};

// The .idata contents for the plan, placed at kIdataRva; sets the IAT range
// and the slot of each by-name import.
std::vector<uint8_t> importData(const TestImagePlan& plan, uint32_t& iatRva, uint32_t& iatSize, std::vector<Slot>& slots) {
    const size_t n = plan.libraries.size();
    uint32_t lookupStart = uint32_t(n + 1) * 20;
    uint32_t tableBytes = 0;
    for (const TestLibrary& l : plan.libraries) {
        tableBytes += 4;
        for (const TestImport& import : l.imports) tableBytes += import.repeat * 4;
    }
    uint32_t iatStart = lookupStart + tableBytes;
    uint32_t namesStart = iatStart + tableBytes;

    std::vector<uint8_t> d(namesStart);
    auto appendName = [&](const std::string& text, bool hint) {
        uint32_t at = uint32_t(d.size());
        if (hint) d.insert(d.end(), {0, 0});
        d.insert(d.end(), text.begin(), text.end());
        d.push_back(0);
        if (d.size() % 2) d.push_back(0);
        return kIdataRva + at;
    };
    uint32_t lookup = lookupStart, iat = iatStart;
    for (size_t i = 0; i < n; ++i) {
        const TestLibrary& l = plan.libraries[i];
        put32(d, uint32_t(i * 20) + 0, kIdataRva + lookup);
        put32(d, uint32_t(i * 20) + 4, l.timeDateStamp);
        put32(d, uint32_t(i * 20) + 16, kIdataRva + iat);
        for (const TestImport& import : l.imports) {
            uint32_t entry = import.byName ? appendName(import.name, true) : 0x80000000u | import.ordinal;
            if (import.byName) slots.push_back({import.name, kIdataRva + iat});
            for (uint32_t r = 0; r < import.repeat; ++r) {
                put32(d, lookup, entry);
                put32(d, iat, entry);  // unbound: the IAT on disk repeats the lookup table
                lookup += 4;
                iat += 4;
            }
        }
        lookup += 4;
        iat += 4;
        put32(d, uint32_t(i * 20) + 12, appendName(l.dllName, false));
    }
    iatRva = kIdataRva + iatStart;
    iatSize = tableBytes;
    return d;
}

// Appends to .idata an export directory naming `thunks[i]` at `code + 8 * i`.
void appendExports(std::vector<uint8_t>& d, const std::string& dllName, const std::vector<Slot>& thunks, uint32_t code) {
    d.resize(velmark::alignUp(uint32_t(d.size()), 4));
    const uint32_t directory = uint32_t(d.size()), n = uint32_t(thunks.size());
    d.resize(directory + 40 + 10 * n);
    auto text = [&d](const std::string& t) {
        uint32_t at = kIdataRva + uint32_t(d.size());
        d.insert(d.end(), t.begin(), t.end());
        d.push_back(0);
        return at;
    };
    put32(d, directory + 12, text(dllName));
    put32(d, directory + 16, 1);  // ordinal base
    put32(d, directory + 20, n);
    put32(d, directory + 24, n);
    put32(d, directory + 28, kIdataRva + directory + 40);
    put32(d, directory + 32, kIdataRva + directory + 40 + 4 * n);
    put32(d, directory + 36, kIdataRva + directory + 40 + 8 * n);
    std::vector<Slot> sorted = thunks;  // the name table is sorted
    std::sort(sorted.begin(), sorted.end(), [](const Slot& a, const Slot& b) { return a.name < b.name; });
    for (uint32_t i = 0; i < n; ++i) {
        put32(d, directory + 40 + 4 * i, code + 8 * i);
        auto at = std::find_if(thunks.begin(), thunks.end(), [&](const Slot& t) { return t.name == sorted[i].name; });
        put32(d, directory + 40 + 4 * n + 4 * i, text(sorted[i].name));
        put16(d, directory + 40 + 8 * n + 2 * i, uint16_t(at - thunks.begin()));
    }
}

void writeSectionHeader(std::vector<uint8_t>& f, uint32_t at, const char* name, uint32_t rva, uint32_t virtualSize,
                        uint32_t raw, uint32_t rawSize, uint32_t characteristics) {
    std::memcpy(f.data() + at, name, std::strlen(name));
    put32(f, at + 8, virtualSize);
    put32(f, at + 12, rva);
    put32(f, at + 16, rawSize);
    put32(f, at + 20, raw);
    put32(f, at + 36, characteristics);
}

}  // namespace

std::vector<uint8_t> buildTestImage(const TestImagePlan& plan) {
    uint32_t iatRva = 0, iatSize = 0;
    std::vector<Slot> slots;
    std::vector<uint8_t> idata = importData(plan, iatRva, iatSize, slots);
    const uint32_t exportRva = kIdataRva + velmark::alignUp(uint32_t(idata.size()), 4);
    if (!plan.exportsThunksAs.empty()) appendExports(idata, plan.exportsThunksAs, slots, kTextRva + 4);
    std::vector<mui::ResourceData> resources = plan.resources;
    if (!plan.bitmap284.empty()) resources.push_back({pe::ResourceName{2, {}}, pe::ResourceName{284, {}}, 0x409, plan.bitmap284});
    const uint32_t idataRawSize = velmark::alignUp(uint32_t(idata.size()), kFileAlignment);
    const uint32_t rsrcRva = kIdataRva + velmark::alignUp(uint32_t(idata.size()), kSectionAlignment);
    const uint32_t rsrcRaw = kIdataRaw + idataRawSize;
    const std::vector<uint8_t> rsrc = resources.empty() ? std::vector<uint8_t>()
                                                        : mui::writeResourceSection(resources, rsrcRva);
    const uint32_t rsrcRawSize = velmark::alignUp(uint32_t(rsrc.size()), kFileAlignment);
    std::vector<uint8_t> f(rsrcRaw + rsrcRawSize);

    put16(f, 0, 0x5A4D);  // MZ
    put32(f, 0x3C, kPeOffset);
    put32(f, kPeOffset, 0x00004550);  // PE\0\0
    const uint32_t fh = kPeOffset + 4, oh = fh + 20;
    put16(f, fh + 0, plan.machine);
    put16(f, fh + 2, rsrc.empty() ? 2 : 3);  // sections
    put16(f, fh + 16, 0xE0);   // optional header size
    const bool dll = !plan.exportsThunksAs.empty();
    put16(f, fh + 18, dll ? 0x2102 : 0x0103); // a DLL, or an executable without relocations; 32-bit
    put16(f, oh + 0, 0x10B);
    put32(f, oh + 4, kTextSize);         // SizeOfCode
    put32(f, oh + 8, idataRawSize);      // SizeOfInitializedData
    put32(f, oh + 16, dll ? 0 : kTextRva);  // entry point
    put32(f, oh + 20, kTextRva);         // BaseOfCode
    put32(f, oh + 24, kIdataRva);        // BaseOfData
    put32(f, oh + 28, kImageBase);
    put32(f, oh + 32, kSectionAlignment);
    put32(f, oh + 36, kFileAlignment);
    put16(f, oh + 40, 4);
    put16(f, oh + 42, 10);
    put16(f, oh + 48, 4);
    put16(f, oh + 50, 10);
    put32(f, oh + 56, rsrcRva + velmark::alignUp(uint32_t(rsrc.size()), kSectionAlignment));  // SizeOfImage
    put32(f, oh + 60, kTextRaw);  // SizeOfHeaders
    put16(f, oh + 68, plan.subsystem);
    put32(f, oh + 72, 0x10000);
    put32(f, oh + 76, 0x1000);
    put32(f, oh + 80, 0x100000);
    put32(f, oh + 84, 0x1000);
    put32(f, oh + 92, 16);
    put32(f, oh + 96 + 8 * 1, kIdataRva);  // import directory: the descriptors
    put32(f, oh + 96 + 8 * 1 + 4, uint32_t(plan.libraries.size() + 1) * 20);
    if (!rsrc.empty()) {
        put32(f, oh + 96 + 8 * 2, rsrcRva);  // resource directory
        put32(f, oh + 96 + 8 * 2 + 4, uint32_t(rsrc.size()));
        writeSectionHeader(f, oh + 0xE0 + 80, ".rsrc", rsrcRva, uint32_t(rsrc.size()), rsrcRaw, rsrcRawSize,
                           0x40000040);
        std::memcpy(f.data() + rsrcRaw, rsrc.data(), rsrc.size());
    }
    if (dll) {
        put32(f, oh + 96, exportRva);
        put32(f, oh + 96 + 4, uint32_t(idata.size()) - (exportRva - kIdataRva));
    }
    put32(f, oh + 96 + 8 * 12, iatRva);    // IAT directory
    put32(f, oh + 96 + 8 * 12 + 4, iatSize);

    const uint32_t sections = oh + 0xE0;
    writeSectionHeader(f, sections, ".text", kTextRva, kTextSize, kTextRaw, kTextSize, 0x60000020);
    writeSectionHeader(f, sections + 40, ".idata", kIdataRva, uint32_t(idata.size()), kIdataRaw, idataRawSize,
                       0xC0000040);
    put32(f, kTextRaw, 0xE12FFF1E);  // bx lr
    uint32_t filler = 0x12345678;
    for (uint32_t at = kTextRaw + 4; at < kTextRaw + kTextSize; at += 4) {
        filler = filler * 1664525u + 1013904223u;
        put32(f, at, filler);
    }
    for (size_t i = 0; dll && i < slots.size(); ++i) {
        const uint32_t thunk = kTextRva + 4 + 8 * uint32_t(i);
        pe::ForwarderCode code = pe::encodeForwarder(thunk, slots[i].rva).value();
        put32(f, kTextRaw + (thunk - kTextRva), code[0]);
        put32(f, kTextRaw + (thunk - kTextRva) + 4, code[1]);
    }
    std::memcpy(f.data() + kIdataRaw, idata.data(), idata.size());

    if (plan.validChecksum) {
        uint32_t field = oh + 64;
        put32(f, field, velmark::cli::peChecksum(f, field));
    }
    return f;
}

TestImagePlan typicalApplication(const std::string& coredllName) {
    TestImagePlan plan;
    plan.libraries.push_back({coredllName,
                              {TestImport::ordinalOf(33),        // LocalAlloc
                               TestImport::named("wsprintfW"),
                               TestImport::ordinalOf(873),       // LoadBitmapW, served by VELMARK itself
                               TestImport::named("HeapAllocTrace"),
                               TestImport::ordinalOf(2055)},     // _mbmemset, the highest ordinal
                              0});
    plan.libraries.push_back({"WINSOCK.dll", {TestImport::ordinalOf(3), TestImport::named("connect")}, 0});
    return plan;
}

}  // namespace velmark::testing
