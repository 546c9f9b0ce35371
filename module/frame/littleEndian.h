// Byte-wise access to little-endian fields of records that may lie at any
// address: the processor faults on a misaligned word or halfword access.
#pragma once

#include <stdint.h>

inline uint32_t readLe32(const void* at) {
    const uint8_t* b = static_cast<const uint8_t*>(at);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

inline void writeLe32(void* at, uint32_t value) {
    uint8_t* b = static_cast<uint8_t*>(at);
    b[0] = uint8_t(value);
    b[1] = uint8_t(value >> 8);
    b[2] = uint8_t(value >> 16);
    b[3] = uint8_t(value >> 24);
}

// A word at a time, for a record known to be word-aligned: the processor is
// little-endian.
inline uint32_t readAlignedLe32(const void* at) { return *static_cast<const uint32_t*>(at); }
inline void writeAlignedLe32(void* at, uint32_t value) { *static_cast<uint32_t*>(at) = value; }

inline uint8_t* byteOffset(void* record, uint32_t offset) {
    return static_cast<uint8_t*>(record) + offset;
}
