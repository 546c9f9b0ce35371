// The image's exception table (.pdata): one entry for every function of the
// module that keeps a frame, found through the ELF's sized STT_FUNC symbols
// and described by decoding its instructions. A function whose prolog or
// epilog the platform could not unwind is refused by name.
#pragma once

#include "formats/pe/ArmFrames.h"
#include "toolchain/imagewriter/ElfFile.h"

#include <cstdint>
#include <vector>

namespace imagewriter {

class ExceptionTable {
public:
    // Throws ImageError listing every function it cannot describe.
    static ExceptionTable fromElf(const ElfFile& elf);

    uint32_t size() const { return uint32_t(functions_.size()) * pe::arm::kRuntimeFunctionSize; }
    // The start-address words, which the loader must relocate.
    std::vector<uint32_t> addressRvas(uint32_t tableRva) const;
    std::vector<uint8_t> bytes() const;

private:
    std::vector<pe::arm::RuntimeFunction> functions_;  // by start, the linked address
};

}  // namespace imagewriter
