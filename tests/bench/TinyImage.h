// A small Windows CE ARM DLL built in memory as the PE reader describes one,
// so that the bench's own tests do not depend on the image writer: code in
// .text, constants in .rdata, import slots and data in .data, the export
// directory (real bytes, as the bench reads it from the mapped image) in .edata.
#pragma once

#include "formats/pe/PeImage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace benchtest {

class TinyImage {
public:
    static constexpr uint32_t kPreferredBase = 0x10000000;
    static constexpr uint32_t kTextRva = 0x1000;
    static constexpr uint32_t kReadOnlyRva = 0x2000;
    static constexpr uint32_t kDataRva = 0x3000;
    static constexpr uint32_t kExportRva = 0x4000;
    static constexpr uint32_t kDiscardableRva = 0x5000;

    static uint32_t va(uint32_t rva) { return kPreferredBase + rva; }

    // Appends code; the words at `absolute` indices are preferred-base
    // addresses and get a HIGHLOW relocation. Returns the first word's RVA.
    uint32_t addCode(const std::vector<uint32_t>& words, const std::vector<size_t>& absolute = {});
    // A tail jump through an import slot: ldr ip,[pc]; ldr pc,[ip]; .word slot.
    uint32_t addForwarder(uint32_t slotRva);
    uint32_t addData(uint32_t value);
    uint32_t addReadOnly(uint32_t value);
    uint32_t importOrdinal(uint16_t ordinal);
    uint32_t importName(const std::string& name);
    void exportFunction(const std::string& name, uint16_t ordinal, uint32_t rva);
    void setEntry(uint32_t rva) { entry_ = rva; }

    // Defects, for the loader's refusals.
    std::string importedDll = "COREDLL.dll";
    bool withLookupTable = true;
    std::vector<pe::BaseRelocation> extraRelocations;
    bool withDiscardableSection = false;

    pe::Image build() const;

private:
    std::vector<uint32_t> text_, readOnly_, data_;
    std::vector<pe::BaseRelocation> relocations_;
    std::vector<pe::Import> imports_;
    std::vector<std::string> importNames_;  // by imports_ index; the image built holds its own copy
    struct Export {
        std::string name;
        uint16_t ordinal;
        uint32_t rva;
    };
    std::vector<Export> exports_;
    uint32_t entry_ = 0;
};

// Encodings checked with arm-none-eabi-as -march=armv5t and objdump.
namespace arm {
constexpr uint32_t kBxLr = 0xE12FFF1E;
// add r0,r0,r1; add r0,r0,r2; bx lr
inline std::vector<uint32_t> add3() { return {0xE0800001, 0xE0800002, kBxLr}; }
// r0 + r1 + r2 + r3 + [sp] + [sp, #4]
inline std::vector<uint32_t> sum6() {
    return {0xE59DC000, 0xE0800001, 0xE0800002, 0xE0800003, 0xE080000C, 0xE59DC004, 0xE080000C, kBxLr};
}
inline std::vector<uint32_t> loadWord() { return {0xE5900000, kBxLr}; }      // ldr r0,[r0]
inline std::vector<uint32_t> loadHalf() { return {0xE1D000B0, kBxLr}; }      // ldrh r0,[r0]
inline std::vector<uint32_t> storeWord() { return {0xE5801000, kBxLr}; }     // str r1,[r0]
inline std::vector<uint32_t> blxR0() { return {0xE12FFF30, kBxLr}; }         // blx r0 (ARMv5)
inline std::vector<uint32_t> clobberR4() { return {0xE3A04000, kBxLr}; }     // mov r4,#0
inline std::vector<uint32_t> leakStack() { return {0xE24DD008, kBxLr}; }     // sub sp,sp,#8
inline std::vector<uint32_t> swi() { return {0xEF000000, kBxLr}; }           // swi 0
inline std::vector<uint32_t> loop() { return {0xEAFFFFFE}; }                 // b .
inline std::vector<uint32_t> returnFalse() { return {0xE3A00000, kBxLr}; }   // mov r0,#0
// add r0,pc,#1; bx r0; then Thumb: mov r8,r8; bx lr
inline std::vector<uint32_t> thumbSwitch() { return {0xE28F0001, 0xE12FFF10, 0x477046C0}; }
// Records r1 (reason) at [record], r0 (instance) at [record+4], counts at
// [record+8]; returns TRUE. Word 8 is the record's address.
inline std::vector<uint32_t> recordingDllMain(uint32_t record) {
    return {0xE59F3018, 0xE5831000, 0xE5830004, 0xE5932008, 0xE2822001, 0xE5832008, 0xE3A00001, kBxLr, record};
}
// Calls through the import slot twice (a normal call, lr set), returns the
// sum of the two results. Word 11 is the slot's address.
inline std::vector<uint32_t> callTwice(uint32_t slot) {
    return {0xE92D4010, 0xE59FC020, 0xE1A0E00F, 0xE59CF000, 0xE1A04000, 0xE59FC010,
            0xE1A0E00F, 0xE59CF000, 0xE0800004, 0xE8BD4010, kBxLr, slot};
}
// Stores its five arguments (r0-r3, [sp]) at [record]..[record+16].
// Word 8 is the record's address.
inline std::vector<uint32_t> recordArgs(uint32_t record) {
    return {0xE59FC018, 0xE58C0000, 0xE58C1004, 0xE58C2008, 0xE58C300C, 0xE59D0000, 0xE58C0010, kBxLr, record};
}
}  // namespace arm

}  // namespace benchtest
