// What can go wrong on the bench, and the exceptions that carry it.
#pragma once

#include "formats/common/Hex.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace bench {

// Why an emulated call did not count as a clean return.
enum class FaultKind {
    Misaligned,         // word or halfword access at an address the CPU would refuse on CE
    Unmapped,           // read, write or fetch outside every mapping (a guard page, or nowhere)
    Protection,         // write to read-only memory or fetch from non-executable memory
    InvalidInstruction, // beyond ARMv4T (blx, clz, ldrd, ...) or undefined
    ThumbState,         // the core switched to Thumb state
    Exception,          // swi or another processor exception
    UnhandledImport,    // a jump to a COREDLL trap address that the fake does not export
    FakeFault,          // a fake COREDLL function was handed memory it could not use
    Clobbered,          // r4-r11, sp or the processor mode differ after the return
    NoReturn,           // the run stopped elsewhere than at the return address, or ran too long
};

const char* faultKindName(FaultKind kind);

struct Fault {
    FaultKind kind = FaultKind::NoReturn;
    uint32_t pc = 0;       // the instruction that faulted, when known
    uint32_t address = 0;  // the data address, when there is one
    std::string message;   // a sentence naming everything above
};

// A load that the Windows CE loader would refuse (or that the bench cannot do).
class LoadRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A call that faulted or broke the calling standard, thrown by the calls that
// return a plain value.
class CallFailed : public std::runtime_error {
public:
    explicit CallFailed(Fault fault)
        : std::runtime_error(fault.message), fault_(std::move(fault)) {}
    const Fault& fault() const { return fault_; }

private:
    Fault fault_;
};

// Host-side access to emulator memory that is not mapped (or not writable).
// Inside a fake COREDLL function it turns into a FakeFault of the call.
class MemoryFault : public std::runtime_error {
public:
    MemoryFault(const std::string& message, uint32_t address)
        : std::runtime_error(message), address_(address) {}
    uint32_t address() const { return address_; }

private:
    uint32_t address_;
};

// Misuse of the bench by a test (bad argument, unknown name, wrong order).
class BenchMisuse : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// "0x0000ABCD": addresses in bench messages always show eight digits.
inline std::string hex(uint32_t value) { return velmark::hex(value, 8); }

}  // namespace bench
