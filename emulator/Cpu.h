// The emulated ARMv4T core and the checked call: every run starts with a
// known register file and a sentinel return address, and counts as clean
// only if it comes back there with the callee-saved registers and sp intact
// and nothing on the way faulted.
#pragma once

#include "emulator/Fault.h"
#include "emulator/Memory.h"

#include <cstdint>
#include <optional>
#include <vector>

struct uc_struct;

namespace bench {

struct CallResult {
    uint32_t r0 = 0;
    uint32_t r1 = 0;
    // sp as the callee received it (the stack arguments start there).
    uint32_t entrySp = 0;
    // Instructions executed inside the module's executable sections during
    // the call, nested callbacks included.
    uint64_t moduleInstructions = 0;
    // Memory reads those instructions made (one per word an ldm loads).
    uint64_t moduleLoads = 0;
    std::optional<Fault> fault;
    // r0-r15 when the fault was recorded (empty when the run broke no rule
    // until its return): where an unwinder starts.
    std::vector<uint32_t> faultRegisters;

    bool ok() const { return !fault.has_value(); }
    // The fault's message, or "ok": for test failure output.
    std::string describe() const;
};

// Receives every jump into the trap area (a COREDLL function of the fake).
class TrapHandler {
public:
    virtual ~TrapHandler() = default;
    // Runs the fake function for `ordinal`; returns false when there is none.
    virtual bool onTrap(uint16_t ordinal) = 0;
};

struct CodeRange {
    uint32_t start = 0;
    uint32_t end = 0;  // exclusive
};

class Cpu {
public:
    // Initial processor state of every top-level call: supervisor mode, ARM
    // state, interrupts masked (no interrupts are ever raised).
    static constexpr uint32_t kInitialCpsr = 0x000001D3;
    static constexpr int kMaxDepth = 8;
    static constexpr uint32_t kTrapAreaSize = 3 * kPageSize;  // ordinals 0..3071

    Cpu();
    ~Cpu();
    Cpu(const Cpu&) = delete;
    Cpu& operator=(const Cpu&) = delete;

    uc_struct* engine() const { return uc_; }
    Memory& memory() { return memory_; }
    const Memory& memory() const { return memory_; }

    void setTrapHandler(TrapHandler* handler) { trapHandler_ = handler; }
    // The module's executable sections, whose instructions are counted.
    void setModuleCode(std::vector<CodeRange> ranges) { moduleCode_ = std::move(ranges); }
    void setInstructionLimit(uint64_t limit) { instructionLimit_ = limit; }

    static uint32_t trapAddress(uint16_t ordinal) { return kTrapBase + 4u * ordinal; }
    static uint32_t sentinel(int depth) { return kSentinelBase + 4u * uint32_t(depth); }
    // What r4-r11 hold when a call at that nesting depth starts.
    static uint32_t canary(int depth, int reg) { return 0xC0DE0000u | uint32_t(depth) << 8 | uint32_t(reg); }

    // Calls `entry` with `args` (r0-r3, then the stack). From inside a trap
    // handler this is a nested call: the interrupted state is saved and
    // restored around it, and a fault makes only the nested result fail.
    CallResult call(uint32_t entry, const std::vector<uint32_t>& args);
    int depth() const { return depth_; }

    // Register access for trap handlers.
    uint32_t reg(int index) const;  // 0-15
    void setReg(int index, uint32_t value);
    uint32_t cpsr() const;
    // Argument i of the function being entered: r0-r3, then [sp + 4(i-4)].
    uint32_t arg(unsigned i) const;

    // Records a fault for the innermost running call and stops it.
    void fail(Fault fault);

private:
    friend struct CpuHooks;

    void installFixedPages();
    Fault faultFromError(int err) const;
    std::optional<Fault> checkReturn(int depth, uint32_t entrySp, uint32_t entryMode) const;
    bool inModuleCode(uint32_t address) const;

    uc_struct* uc_;  // before memory_, which is built on it
    Memory memory_;
    TrapHandler* trapHandler_ = nullptr;
    std::vector<CodeRange> moduleCode_;
    std::vector<size_t> hooks_;
    uint64_t instructionLimit_ = 20'000'000;

    int depth_ = 0;
    struct Recorded {
        std::optional<Fault> fault;
        std::vector<uint32_t> registers;  // r0-r15 when the fault was recorded
    };
    std::vector<Recorded> faults_;  // one per running call, innermost last
    uint64_t moduleInstructions_ = 0;
    uint64_t moduleLoads_ = 0;
    uint64_t executed_ = 0;  // all instructions, for the runaway limit
    std::vector<uint64_t> executedAtEntry_;
};

}  // namespace bench
