// Reads arm-none-eabi-objdump output and lists what an ARMv4T core in ARM
// state could not run: Thumb code and any instruction outside the ARMv4T
// base set (blx, clz, ldrd/strd, pld, v5/v6 media and hint instructions...).
// A list of what is allowed rather than of what is not: an instruction
// nobody thought of is caught too.
#pragma once

#include <string>
#include <vector>

namespace armv4t {

// Lines of `objdump -d` whose instruction ARMv4T in ARM state lacks, each
// as "address: encoding mnemonic operands".
std::vector<std::string> instructionsBeyondArmv4t(const std::string& disassembly);

// Whether a mnemonic as objdump prints it (unified syntax, condition and
// S suffixes included) is an ARMv4T ARM-state instruction.
bool isArmv4tMnemonic(const std::string& mnemonic);

// Lines of `objdump -d` that return without bx: ldm/pop into pc, mov pc, lr
// or a single-word pop into pc. Only bx lr returns a Thumb caller to Thumb
// state on ARMv4T.
std::vector<std::string> returnsWithoutBx(const std::string& disassembly);

// Thumb mapping symbols ($t, $t.N) in `objdump -t --special-syms` output
// (plain -t leaves mapping symbols out).
std::vector<std::string> thumbMappingSymbols(const std::string& symbolTable);

}  // namespace armv4t
