// The image's exception table (.pdata): one entry for every function of the
// module that keeps a frame, found through the ELF's sized STT_FUNC symbols
// and described by decoding its instructions. A function whose prolog or
// epilog the platform could not unwind is refused by name.
#pragma once

#include "ArmFrames.h"
#include "ElfFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace imagewriter {

struct FramedFunction {
    std::string name;
    pe::arm::RuntimeFunction entry;  // start is the linked address
};

class ExceptionTable {
public:
    // Throws ImageError listing every function it cannot describe.
    static ExceptionTable fromElf(const ElfFile& elf);

    const std::vector<FramedFunction>& functions() const { return functions_; }  // by start address
    uint32_t size() const { return uint32_t(functions_.size()) * pe::arm::kRuntimeFunctionSize; }
    // The start-address words, which the loader must relocate.
    std::vector<uint32_t> addressRvas(uint32_t tableRva) const;
    std::vector<uint8_t> bytes() const;

private:
    std::vector<FramedFunction> functions_;
};

}  // namespace imagewriter
