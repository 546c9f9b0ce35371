// The code of a forwarder, the two-instruction tail jump through an import
// slot, defined here once for the image writer that writes it and for every
// check that reads it back:
//
//   add ip, pc, #hi      (sub when the slot lies before the forwarder)
//   ldr pc, [ip, #±lo]
//
// pc reads as the forwarder's address + 8, so slot = forwarder + 8 ± (hi + lo),
// with hi the bits 12-19 of the distance and lo bits 0-11. The code holds
// no address, so it needs no base relocation; only ip is changed, and lr,
// sp and r0-r3 reach COREDLL as the caller left them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace pe {

constexpr uint32_t kForwarderSize = 8;
// Slots whose distance from forwarder + 8 is below this are reachable.
constexpr uint32_t kForwarderReach = 1u << 20;

using ForwarderCode = std::array<uint32_t, 2>;

// The two instruction words for a forwarder at `forwarder` jumping through
// the slot at `slot` (both addresses in the same space, RVA or VA); nothing
// when the slot is out of reach.
std::optional<ForwarderCode> encodeForwarder(uint32_t forwarder, uint32_t slot);

// The slot address the two words at `forwarder` jump through, or nothing
// when they are not a forwarder.
std::optional<uint32_t> decodeForwarder(uint32_t forwarder, uint32_t first, uint32_t second);

}  // namespace pe
