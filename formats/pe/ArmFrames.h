// Windows CE's ARM exception table (.pdata, data directory 3) and the shapes
// of function frames it can describe. The platform unwinds a function by
// reverse-executing its prolog, so a function with an entry must begin with
// one of the prolog forms its own compilers emit, and one without an entry
// must keep sp and lr untouched (the platform takes it for a leaf whose
// return address is still in lr).
#pragma once

#include "formats/pe/PeFormat.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pe {

namespace arm {

// IMAGE_CE_RUNTIME_FUNCTION_ENTRY: the start address, then PrologLen (bits
// 0-7) and FuncLen (bits 8-29), both counted in instructions, the 32-bit
// flag (bit 30, set for ARM code) and the exception flag (bit 31).
constexpr uint32_t kRuntimeFunctionSize = 8;

struct RuntimeFunction {
    uint32_t start = 0;  // a virtual address: image base + RVA
    uint32_t prologLength = 0;
    uint32_t functionLength = 0;
    bool is32Bit = false;
    bool hasHandler = false;

    uint32_t packedLengths() const;
    static RuntimeFunction unpack(uint32_t start, uint32_t lengths);
};

// What a function's instructions do to its stack, as the table describes it.
struct FrameShape {
    uint32_t prologLength = 0;  // instructions; 0 for a function without a frame
    uint32_t frameBytes = 0;    // what the prolog takes from sp
    std::string prolog;         // the prolog's instructions, as text
    bool savesLr = false;       // the prolog pushes lr
};

// The documented prolog at the start of `code`: one of `stmdb sp!, {...}`
// or `str lr, [sp, #-4]!`, or `mov r12, sp` then one or two stmdb and an
// optional frame pointer (`add r11, sp, #n` / `sub r11, r12, #n`); then an
// optional `sub sp, sp, #n`, or a constant in r12 with `add/sub sp, sp, r12`.
// Length 0 when the code starts with none of them.
FrameShape decodeProlog(const std::vector<uint32_t>& code);

// Checks a whole function: the prolog as above, then every later change of
// sp or lr belonging to an epilog (one contiguous sequence that gives back
// exactly the prolog's frame and returns); a function without a prolog must
// not change sp or lr at all. Returns the shape, or nullopt with the reason
// in `problem`. Words flagged in `isData` (literal pools; may be empty) are
// not instructions.
std::optional<FrameShape> checkFunction(const std::vector<uint32_t>& code, const std::vector<bool>& isData,
                                        std::string& problem);

// Whether an instruction writes sp or lr (bl included).
bool changesSpOrLr(uint32_t word);

// One instruction as text, for messages ("stmdb sp!, {r4, r5, lr}").
std::string describeInstruction(uint32_t word);

// The value of a data-processing instruction's immediate operand: bits 0-7
// rotated right by twice bits 8-11.
uint32_t immediate(uint32_t word);

}  // namespace arm
}  // namespace pe
