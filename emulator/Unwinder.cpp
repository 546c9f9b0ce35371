#include "emulator/Unwinder.h"

#include "emulator/Fault.h"
#include "formats/pe/PeFormat.h"

#include <algorithm>

namespace bench {
namespace {

constexpr int kR12 = 12, kSp = 13, kLr = 14, kPc = 15;

uint32_t immediate(uint32_t w) {
    uint32_t value = w & 0xFF, rotate = 2 * ((w >> 8) & 0xF);
    return rotate ? (value >> rotate) | (value << (32 - rotate)) : value;
}

}  // namespace

Unwinder::Unwinder(const Memory& memory, const LoadedImage& image)
    : memory_(memory), base_(image.base), size_(image.size) {
    namespace format = pe::format;
    uint32_t optionalHeader =
        base_ + memory.read32(base_ + format::kDosNewHeaderField) + format::kPeSignatureSize + format::kFileHeaderSize;
    uint32_t directory = optionalHeader + format::kOhDataDirectories + format::kDataDirectorySize * pe::kDirException;
    uint32_t rva = memory.read32(directory), size = memory.read32(directory + 4);
    for (uint32_t at = 0; rva && at + pe::arm::kRuntimeFunctionSize <= size; at += pe::arm::kRuntimeFunctionSize) {
        entries_.push_back(
            pe::arm::RuntimeFunction::unpack(memory.read32(base_ + rva + at), memory.read32(base_ + rva + at + 4)));
    }
}

Registers Unwinder::unwindFrame(const Registers& context) const {
    Registers r = context;
    uint32_t pc = context[kPc];
    auto found = std::upper_bound(entries_.begin(), entries_.end(), pc,
                                  [](uint32_t address, const pe::arm::RuntimeFunction& e) { return address < e.start; });
    if (found == entries_.begin() || pc - std::prev(found)->start >= 4 * std::prev(found)->functionLength) {
        r[kPc] = r[kLr];  // a leaf: no frame, return address in lr
        return r;
    }
    const pe::arm::RuntimeFunction& e = *std::prev(found);
    uint32_t ran = std::min(e.prologLength, (pc - e.start) / 4);
    for (uint32_t k = ran; k-- > 0;) {
        uint32_t address = e.start + 4 * k, w = memory_.read32(address);
        if ((w & 0x0FFF0000) == 0x092D0000) {  // stmdb sp!, {list}: reload, lowest register lowest
            uint32_t sp = r[kSp];
            for (int reg = 0; reg < 16; ++reg)
                if (w & (1u << reg)) {
                    r[reg] = memory_.read32(sp);
                    sp += 4;
                }
            if (!(w & (1u << kSp))) r[kSp] = sp;
        } else if ((w & 0x0FFFFFFF) == 0x052DE004) {  // str lr, [sp, #-4]!
            r[kLr] = memory_.read32(r[kSp]);
            r[kSp] += 4;
        } else if ((w & 0x0FFFF000) == 0x024DD000) {  // sub sp, sp, #n
            r[kSp] += immediate(w);
        } else if ((w & 0x0FFFFFFF) == 0x008DD00C || (w & 0x0FFFFFFF) == 0x004DD00C) {  // add/sub sp, sp, r12
            uint32_t load = k ? memory_.read32(address - 4) : 0, constant = 0;
            if ((load & 0x0FFFF000) == 0x03A0C000) constant = immediate(load);
            else if ((load & 0x0FFFF000) == 0x03E0C000) constant = ~immediate(load);
            else if ((load & 0x0F7FF000) == 0x051FC000)
                constant = memory_.read32(address + 4 + ((load & 0x00800000) ? (load & 0xFFF) : 0u - (load & 0xFFF)));
            else throw UnwindFailed("no constant for the frame size before " + hex(address));
            r[kSp] += (w & 0x00800000) ? 0u - constant : constant;
            --k;  // the constant's load is undone with it
        } else if ((w & 0x0FFFFFFF) == 0x01A0C00D) {  // mov r12, sp
            r[kSp] = r[kR12];
        } else if ((w & 0x0FFFF000) != 0x028DB000 && (w & 0x0FFFF000) != 0x024CB000) {  // frame pointer: nothing
            throw UnwindFailed("prolog instruction " + hex(w) + " at " + hex(address) + " cannot be reversed");
        }
    }
    r[kPc] = r[kLr];
    return r;
}

Registers Unwinder::unwindThroughImage(const Registers& context, int* frames) const {
    Registers r = context;
    int taken = 0;
    do {
        Registers caller = unwindFrame(r);
        if (caller == r || ++taken > 64) throw UnwindFailed("unwinding makes no progress at " + hex(r[kPc]));
        r = caller;
    } while (inImage(r[kPc]));
    if (frames) *frames = taken;
    return r;
}

}  // namespace bench
