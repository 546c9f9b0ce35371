// The module's code must run on an ARMv4T core in ARM state: no Thumb, and
// nothing from ARMv5 or later (blx, clz, ldrd/strd, pld, ...). Checked on
// the disassembly of the linked ELF, after the checker itself is shown to
// catch each kind of fault.
#include "tests/image/Armv4tCheck.h"
#include "tests/image/Command.h"
#include "tests/image/SmallLink.h"

#include <gtest/gtest.h>

namespace {

using testsupport::joined;
using testsupport::runCommand;
using testsupport::shellQuote;

std::string objdump(const std::string& options, const std::string& path) {
    testsupport::CommandResult r = runCommand(std::string(ARM_OBJDUMP) + " " + options + " " + shellQuote(path));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.output;
}

TEST(Armv4tCheck, KnowsTheBaseSetWithItsSuffixes) {
    for (const char* ok : {"ldr", "ldrbeq", "ldrsh", "strh", "movs", "movseq", "lsls", "rrx", "umullseq", "smlal",
                           "teqne", "cmp", "bls", "bleq", "bx", "bxne", "push", "popgt", "ldm", "ldmia", "stmdb",
                           "ldmfdeq", "swpb", "mrs", "msr", "svc", "mcr", "adr"})
        EXPECT_TRUE(armv4t::isArmv4tMnemonic(ok)) << ok;
    for (const char* beyond : {"blx", "blxne", "clz", "ldrd", "strdeq", "pld", "bxj", "movw", "movt", "smulbb",
                               "smlalbb", "qadd", "bkpt", "ldrex", "strexb", "rev", "sxth", "uxtb", "cpsid", "ldrsbt",
                               "mcrr", "mrc2", "udf", "yield", "wfi", "usat", "dmb", "ldmxx", "movsx"})
        EXPECT_FALSE(armv4t::isArmv4tMnemonic(beyond)) << beyond;
}

// Code assembled for ARMv5TE with each forbidden kind of instruction, and a
// Thumb function: every one of them is reported.
TEST(Armv4tCheck, CatchesEachFaultInRealDisassembly) {
    testsupport::SmallLink link(R"(
    .syntax unified
    .arch armv5te
    .arm
    .text
    .global DllMain
DllMain:
    blx r3
    clz r0, r1
    ldrd r0, r1, [r2]
    strd r0, r1, [r2]
    pld [r0]
    bx lr
    .thumb
    .thumb_func
    .global thumbFunction
thumbFunction:
    bx lr
)");
    ASSERT_TRUE(link.linked()) << link.log();
    std::string findings = joined(armv4t::instructionsBeyondArmv4t(objdump("-d", link.elfPath())));
    for (const char* mnemonic : {"blx", "clz", "ldrd", "strd", "pld"})
        EXPECT_NE(findings.find(std::string(" ") + mnemonic + "\t"), std::string::npos) << mnemonic << " missed:\n" << findings;
    EXPECT_NE(findings.find(" 4770 "), std::string::npos) << "the Thumb bx lr was missed:\n" << findings;
    // objdump hides mapping symbols unless asked for them.
    EXPECT_EQ(armv4t::thumbMappingSymbols(objdump("-t --special-syms", link.elfPath())).size(), 1u);
}

// Returns that stay in ARM state whatever the caller was: each is reported,
// bx lr and a tail jump through a register are not.
TEST(Armv4tCheck, CatchesReturnsWithoutBx) {
    testsupport::SmallLink link(R"(
    .syntax unified
    .arm
    .text
    .global DllMain
DllMain:
    pop {r4, pc}
    ldmfd sp!, {r4-r6, pc}
    ldmne sp, {r0, pc}
    mov pc, lr
    pop {pc}
    pop {r4, lr}
    ldr pc, [ip, #-4]
    bx lr
)");
    ASSERT_TRUE(link.linked()) << link.log();
    std::vector<std::string> found = armv4t::returnsWithoutBx(objdump("-d", link.elfPath()));
    EXPECT_EQ(found.size(), 5u) << joined(found);
}

TEST(ModuleInstructionSet, IsArmv4tInArmState) {
    std::string disassembly = objdump("-d", VELMARK_ELF);
    ASSERT_NE(disassembly.find("<DllMain>:"), std::string::npos) << "no disassembly of the module";
    std::vector<std::string> beyond = armv4t::instructionsBeyondArmv4t(disassembly);
    EXPECT_TRUE(beyond.empty()) << beyond.size() << " instructions beyond ARMv4T:\n" << joined(beyond);
    std::vector<std::string> thumb = armv4t::thumbMappingSymbols(objdump("-t --special-syms", VELMARK_ELF));
    EXPECT_TRUE(thumb.empty()) << "Thumb code:\n" << joined(thumb);
    std::vector<std::string> returns = armv4t::returnsWithoutBx(disassembly);
    EXPECT_TRUE(returns.empty()) << "returns without bx lr:\n" << joined(returns);
}

}  // namespace
