// The buffer lengths of capture at half rate. The device is told a length
// to fill, and the callback later writes twice that much, so a buffer must
// hold double the length it announces. No record is kept per buffer: the
// header's own dwBufferLength is all there is to go on.
#pragma once

#include <stdint.h>

constexpr uint32_t kDeviceBufferBytes = 160;     // 10 ms at 8000 two-byte frames a second
constexpr uint32_t kDeliveredBufferBytes = 320;  // the same 10 ms, every frame doubled

// Before prepare, dwBufferLength is the application's own: its capacity.
// A buffer of 320 bytes or more is announced as 160; a smaller one as the
// largest even length whose double fits, except that 80 becomes 78 so that
// a doubled small buffer never reads 160, the mark of a full-sized one.
inline uint32_t lengthAnnouncedOnPrepare(uint32_t length) {
    if (length >= kDeliveredBufferBytes) return kDeviceBufferBytes;
    uint32_t announced = length / 4 * 2;
    return announced == kDeviceBufferBytes / 2 ? announced - 2 : announced;
}

// Before add, dwBufferLength may also be what prepare announced (160 for a
// full-sized buffer) or what the callback delivered (twice the announced).
// 160 can only come from a full-sized buffer, so it stays 160; any other
// length is treated as a capacity, which errs towards announcing less.
inline uint32_t lengthAnnouncedOnAdd(uint32_t length) {
    return length == kDeviceBufferBytes ? kDeviceBufferBytes : lengthAnnouncedOnPrepare(length);
}
