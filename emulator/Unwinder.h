// The platform's virtual unwinder for ARM, run over an image as it lies in
// emulator memory: the function holding pc is looked up in the image's
// exception table (.pdata, data directory 3); a function with an entry is
// unwound by reverse-executing the part of its prolog that has run, after
// which lr holds its return address; a pc without an entry is a leaf, whose
// return address is still in lr and whose sp is the caller's.
#pragma once

#include "emulator/Loader.h"
#include "emulator/Memory.h"
#include "formats/pe/ArmFrames.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

using Registers = std::array<uint32_t, 16>;  // r0-r15

class UnwindFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Unwinder {
public:
    // Reads the exception table of the image mapped at image.base.
    Unwinder(const Memory& memory, const LoadedImage& image);

    // The registers of the caller of the frame that `context` is in (pc is
    // its return address). Throws UnwindFailed on a prolog it cannot reverse.
    Registers unwindFrame(const Registers& context) const;
    // Unwinds from a context anywhere (a COREDLL function included) one
    // frame, then on while pc lies inside the image; `frames` counts the
    // frames taken. A COREDLL function that the module tail-called returns
    // straight to the module's caller.
    Registers unwindThroughImage(const Registers& context, int* frames = nullptr) const;

private:
    bool inImage(uint32_t address) const { return address - base_ < size_; }

    const Memory& memory_;
    uint32_t base_;
    uint32_t size_;
    std::vector<pe::arm::RuntimeFunction> entries_;
};

}  // namespace bench
