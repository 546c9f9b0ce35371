#include "formats/pe/Forwarder.h"

#include "formats/pe/ArmFrames.h"

namespace pe {
namespace {

constexpr uint32_t kAddIpPc = 0xE28FC000;  // add ip, pc, #imm
constexpr uint32_t kSubIpPc = 0xE24FC000;  // sub ip, pc, #imm
constexpr uint32_t kLdrPcIp = 0xE51CF000;  // ldr pc, [ip, #-imm]
constexpr uint32_t kUp = 1u << 23;         // ldr: add the offset
constexpr uint32_t kOperandMask = 0xFFF;
// The distance's bits 12-19 as an ARM immediate: imm8 rotated right by 20.
constexpr uint32_t kHiRotation = 10u << 8;

}  // namespace

std::optional<ForwarderCode> encodeForwarder(uint32_t forwarder, uint32_t slot) {
    const uint32_t pc = forwarder + 8;
    const bool after = slot >= pc;
    const uint32_t distance = after ? slot - pc : pc - slot;
    if (distance >= kForwarderReach) return std::nullopt;
    const uint32_t hi = distance >> 12, lo = distance & kOperandMask;
    return ForwarderCode{(after ? kAddIpPc : kSubIpPc) | (hi ? kHiRotation | hi : 0),
                         kLdrPcIp | (after ? kUp : 0) | lo};
}

std::optional<uint32_t> decodeForwarder(uint32_t forwarder, uint32_t first, uint32_t second) {
    const uint32_t op = first & ~kOperandMask;
    if ((op != kAddIpPc && op != kSubIpPc) || (second & ~(kUp | kOperandMask)) != kLdrPcIp) return std::nullopt;
    const uint32_t hi = arm::immediate(first), lo = second & kOperandMask;
    const uint32_t ip = op == kAddIpPc ? forwarder + 8 + hi : forwarder + 8 - hi;
    return second & kUp ? ip + lo : ip - lo;
}

}  // namespace pe
