#include "emulator/Cpu.h"

#include <unicorn/unicorn.h>

namespace bench {
namespace {

// Architecturally undefined in ARM state on every ARM core: the trap and
// sentinel pages hold nothing else, so running into them unhandled faults.
constexpr uint32_t kUndefinedInstruction = 0xE7F000F0;
constexpr uint32_t kThumbBit = 0x20;
constexpr uint32_t kModeMask = 0x1F;

const int kRegs[16] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2,  UC_ARM_REG_R3,
                       UC_ARM_REG_R4, UC_ARM_REG_R5, UC_ARM_REG_R6,  UC_ARM_REG_R7,
                       UC_ARM_REG_R8, UC_ARM_REG_R9, UC_ARM_REG_R10, UC_ARM_REG_R11,
                       UC_ARM_REG_R12, UC_ARM_REG_SP, UC_ARM_REG_LR, UC_ARM_REG_PC};

const char* accessName(int type) {
    switch (type) {
    case UC_MEM_READ:
    case UC_MEM_READ_UNMAPPED:
    case UC_MEM_READ_PROT:
        return "read";
    case UC_MEM_WRITE:
    case UC_MEM_WRITE_UNMAPPED:
    case UC_MEM_WRITE_PROT:
        return "write";
    default:
        return "fetch";
    }
}

}  // namespace

const char* faultKindName(FaultKind kind) {
    switch (kind) {
    case FaultKind::Misaligned: return "misaligned access";
    case FaultKind::Unmapped: return "unmapped access";
    case FaultKind::Protection: return "protection fault";
    case FaultKind::InvalidInstruction: return "invalid instruction";
    case FaultKind::ThumbState: return "Thumb state";
    case FaultKind::Exception: return "processor exception";
    case FaultKind::UnhandledImport: return "unhandled import";
    case FaultKind::FakeFault: return "fault in a COREDLL function";
    case FaultKind::Clobbered: return "calling standard broken";
    case FaultKind::NoReturn: return "no return";
    }
    return "?";
}

std::string CallResult::describe() const {
    return fault ? std::string(faultKindName(fault->kind)) + ": " + fault->message : "ok";
}

// The emulator's callbacks, kept out of the header so that it needs no
// Unicorn types. None may throw: they run inside the emulator's C code.
struct CpuHooks {
    static void code(uc_engine*, uint64_t address, uint32_t size, void* self) {
        Cpu& cpu = *static_cast<Cpu*>(self);
        ++cpu.executed_;
        if (cpu.inModuleCode(uint32_t(address))) ++cpu.moduleInstructions_;
        if (size != 4) {
            cpu.fail({FaultKind::ThumbState, uint32_t(address), 0,
                      "the core runs in Thumb state at " + hex(uint32_t(address)) + " (" +
                          cpu.memory_.describe(uint32_t(address)) + ")"});
            return;
        }
        if (!cpu.executedAtEntry_.empty() &&
            cpu.executed_ - cpu.executedAtEntry_.front() > cpu.instructionLimit_)
            cpu.fail({FaultKind::NoReturn, uint32_t(address), 0,
                      "still running after " + std::to_string(cpu.instructionLimit_) +
                          " instructions, at " + hex(uint32_t(address)) + " (" +
                          cpu.memory_.describe(uint32_t(address)) + ")"});
    }

    static void trap(uc_engine*, uint64_t address, uint32_t, void* self) {
        Cpu& cpu = *static_cast<Cpu*>(self);
        uint32_t pc = uint32_t(address);
        uint16_t ordinal = uint16_t((pc - kTrapBase) / 4);
        if (pc % 4) {
            cpu.fail({FaultKind::UnhandledImport, pc, 0,
                      "jump into the middle of COREDLL trap " + std::to_string(ordinal)});
            return;
        }
        bool handled = false;
        try {
            handled = cpu.trapHandler_ && cpu.trapHandler_->onTrap(ordinal);
        } catch (const std::exception& e) {
            cpu.fail({FaultKind::FakeFault, pc, 0, e.what()});
            return;
        }
        if (!handled)
            cpu.fail({FaultKind::UnhandledImport, pc, 0,
                      "call to COREDLL ordinal " + std::to_string(ordinal) +
                          ", which the fake COREDLL does not export, from " +
                          hex(cpu.reg(14)) + " (" + cpu.memory_.describe(cpu.reg(14)) + ")"});
    }

    static void access(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* self) {
        Cpu& cpu = *static_cast<Cpu*>(self);
        uint32_t pc = cpu.reg(15);
        if (type == UC_MEM_READ && cpu.inModuleCode(pc)) ++cpu.moduleLoads_;
        if (size <= 1 || address % uint64_t(size) == 0) return;
        cpu.fail({FaultKind::Misaligned, pc, uint32_t(address),
                  "misaligned " + std::to_string(size) + "-byte " + accessName(type) + " at " +
                      hex(uint32_t(address)) + " (" + cpu.memory_.describe(uint32_t(address)) +
                      ") by the instruction at " + hex(pc) + " (" + cpu.memory_.describe(pc) + ")"});
    }

    static bool invalid(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* self) {
        Cpu& cpu = *static_cast<Cpu*>(self);
        bool prot = type == UC_MEM_READ_PROT || type == UC_MEM_WRITE_PROT || type == UC_MEM_FETCH_PROT;
        uint32_t pc = cpu.reg(15);
        std::string what = std::string(accessName(type)) + " of " + std::to_string(size) + " bytes at " +
                           hex(uint32_t(address)) + " (" + cpu.memory_.describe(uint32_t(address)) + ")";
        if (type != UC_MEM_FETCH_UNMAPPED && type != UC_MEM_FETCH_PROT)
            what += " by the instruction at " + hex(pc) + " (" + cpu.memory_.describe(pc) + ")";
        cpu.fail({prot ? FaultKind::Protection : FaultKind::Unmapped, pc, uint32_t(address), what});
        return false;
    }

    static void interrupt(uc_engine*, uint32_t number, void* self) {
        Cpu& cpu = *static_cast<Cpu*>(self);
        uint32_t pc = cpu.reg(15);
        cpu.fail({FaultKind::Exception, pc, 0,
                  "processor exception " + std::to_string(number) + (number == 2 ? " (swi)" : "") +
                      " near " + hex(pc) + " (" + cpu.memory_.describe(pc) + ")"});
    }
};

namespace {

uc_engine* openArmv4t() {
    uc_engine* uc = nullptr;
    if (uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc) != UC_ERR_OK) throw BenchMisuse("the emulator could not be opened");
    // Straight after opening, before anything is translated: the default
    // Cortex-A15 would run blx, clz and ldrd without complaint.
    if (uc_ctl_set_cpu_model(uc, UC_CPU_ARM_TI925T) != UC_ERR_OK) {
        uc_close(uc);
        throw BenchMisuse("the emulator refuses the ARMv4T (TI925T) model");
    }
    return uc;
}

}  // namespace

Cpu::Cpu() : uc_(openArmv4t()), memory_(uc_) {
    installFixedPages();

    size_t hook = 0;
    uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&CpuHooks::code), this, 1, 0);
    hooks_.push_back(hook);
    uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&CpuHooks::trap), this, kTrapBase,
                kTrapBase + kTrapAreaSize - 1);
    hooks_.push_back(hook);
    uc_hook_add(uc_, &hook, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE,
                reinterpret_cast<void*>(&CpuHooks::access), this, 1, 0);
    hooks_.push_back(hook);
    uc_hook_add(uc_, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&CpuHooks::invalid), this, 1, 0);
    hooks_.push_back(hook);
    uc_hook_add(uc_, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&CpuHooks::interrupt), this, 1, 0);
    hooks_.push_back(hook);
}

Cpu::~Cpu() {
    for (size_t hook : hooks_) uc_hook_del(uc_, hook);
    uc_close(uc_);
}

void Cpu::installFixedPages() {
    std::vector<uint32_t> undefined(kTrapAreaSize / 4, kUndefinedInstruction);
    memory_.map(kTrapBase, kTrapAreaSize, kRead | kExecute, Owner::Trap, "COREDLL trap area");
    memory_.poke(kTrapBase, undefined.data(), kTrapAreaSize);
    memory_.map(kSentinelBase, kPageSize, kRead | kExecute, Owner::Trap, "return sentinel page");
    memory_.poke(kSentinelBase, undefined.data(), kPageSize);
    memory_.map(kStackLimit, kStackTop - kStackLimit, kRead | kWrite, Owner::Stack, "stack");
}

uint32_t Cpu::reg(int index) const {
    uint32_t value = 0;
    uc_reg_read(uc_, kRegs[index], &value);
    return value;
}

void Cpu::setReg(int index, uint32_t value) { uc_reg_write(uc_, kRegs[index], &value); }

uint32_t Cpu::cpsr() const {
    uint32_t value = 0;
    uc_reg_read(uc_, UC_ARM_REG_CPSR, &value);
    return value;
}

uint32_t Cpu::arg(unsigned i) const {
    return i < 4 ? reg(int(i)) : memory_.read32(reg(13) + 4 * (i - 4));
}

bool Cpu::inModuleCode(uint32_t address) const {
    for (const CodeRange& range : moduleCode_)
        if (address >= range.start && address < range.end) return true;
    return false;
}

void Cpu::fail(Fault fault) {
    if (faults_.empty()) return;
    if (!faults_.back().fault) {
        for (int r = 0; r < 16; ++r) faults_.back().registers.push_back(reg(r));
        faults_.back().fault = std::move(fault);
    }
    uc_emu_stop(uc_);
}

Fault Cpu::faultFromError(int err) const {
    uint32_t pc = reg(15);
    if (err == UC_ERR_INSN_INVALID) {
        std::string word = "?";
        if (memory_.has(pc, 4, kRead)) word = hex(memory_.read32(pc));
        return {FaultKind::InvalidInstruction, pc, 0,
                "instruction " + word + " at " + hex(pc) + " (" + memory_.describe(pc) +
                    ") is not an ARMv4T instruction"};
    }
    return {FaultKind::Exception, pc, 0,
            std::string("the emulator stopped: ") + uc_strerror(uc_err(err)) + " at " + hex(pc) + " (" +
                memory_.describe(pc) + ")"};
}

std::optional<Fault> Cpu::checkReturn(int depth, uint32_t entrySp, uint32_t entryMode) const {
    uint32_t pc = reg(15);
    if (pc != sentinel(depth))
        return Fault{FaultKind::NoReturn, pc, 0,
                     "the call stopped at " + hex(pc) + " (" + memory_.describe(pc) +
                         ") instead of returning to " + hex(sentinel(depth))};
    if (cpsr() & kThumbBit)
        return Fault{FaultKind::ThumbState, pc, 0, "the call returned in Thumb state"};
    if ((cpsr() & kModeMask) != entryMode)
        return Fault{FaultKind::Clobbered, pc, 0, "the call returned in another processor mode"};
    if (reg(13) != entrySp)
        return Fault{FaultKind::Clobbered, pc, 0,
                     "sp is " + hex(reg(13)) + " after the call, " + hex(entrySp) + " at entry"};
    for (int r = 4; r <= 11; ++r)
        if (reg(r) != canary(depth, r))
            return Fault{FaultKind::Clobbered, pc, 0,
                         "r" + std::to_string(r) + " is " + hex(reg(r)) + " after the call, " +
                             hex(canary(depth, r)) + " at entry"};
    return std::nullopt;
}

CallResult Cpu::call(uint32_t entry, const std::vector<uint32_t>& args) {
    if (depth_ >= kMaxDepth) throw BenchMisuse("emulated calls nested deeper than " + std::to_string(kMaxDepth));
    int depth = depth_;
    uc_context* saved = nullptr;
    if (depth > 0) {
        uc_context_alloc(uc_, &saved);
        uc_context_save(uc_, saved);
    } else {
        uc_reg_write(uc_, UC_ARM_REG_CPSR, &kInitialCpsr);
    }

    // A nested call's frame goes below the interrupted code's sp, as an
    // exception or callback frame would.
    uint32_t sp = depth == 0 ? kStackTop - 256 : ((reg(13) - 256) & ~7u);
    size_t stackArgs = args.size() > 4 ? args.size() - 4 : 0;
    sp = uint32_t((sp - 4 * stackArgs) & ~7u);
    if (sp < kStackLimit + 4 * kPageSize) throw BenchMisuse("the emulated stack is exhausted");
    for (size_t i = 0; i < stackArgs; ++i) memory_.write32(sp + 4 * uint32_t(i), args[4 + i]);
    for (int r = 0; r < 4; ++r) setReg(r, size_t(r) < args.size() ? args[r] : 0xA5A50000u + r);
    for (int r = 4; r <= 11; ++r) setReg(r, canary(depth, r));
    setReg(12, 0xA5A5000C);
    setReg(13, sp);
    setReg(14, sentinel(depth));
    uint32_t mode = cpsr() & kModeMask;

    faults_.emplace_back();
    executedAtEntry_.push_back(executed_);
    uint64_t moduleBefore = moduleInstructions_, loadsBefore = moduleLoads_;
    ++depth_;
    uc_err err = uc_emu_start(uc_, entry, sentinel(depth), 0, 0);
    --depth_;
    Recorded recorded = std::move(faults_.back());
    faults_.pop_back();
    std::optional<Fault> fault = std::move(recorded.fault);
    executedAtEntry_.pop_back();

    if (!fault && err != UC_ERR_OK) fault = faultFromError(err);
    if (!fault) fault = checkReturn(depth, sp, mode);

    CallResult result;
    result.r0 = reg(0);
    result.r1 = reg(1);
    result.entrySp = sp;
    result.moduleInstructions = moduleInstructions_ - moduleBefore;
    result.moduleLoads = moduleLoads_ - loadsBefore;
    result.fault = std::move(fault);
    if (result.fault) result.faultRegisters = std::move(recorded.registers);
    if (saved) {
        uc_context_restore(uc_, saved);
        uc_context_free(saved);
    }
    return result;
}

}  // namespace bench
