// Spreads every two-byte frame of a captured buffer over two frames, in
// place: frame k of the first `recorded` bytes ends up at frames 2k and 2k + 1.
// The buffer must hold 2 × `recorded` bytes; nothing beyond is touched.
#pragma once

#include <stdint.h>

void duplicateSamples(uint8_t* buffer, uint32_t recorded);

// The same result by the plain byte steps, last frame first; the
// definition of the transformation, odd counts included (N = 3 turns
// b0 b1 b2 into b0 b1 b1 b1 b1 b1). With `lowest`, only the steps for the
// input bytes from `lowest` on (an even distance below recorded - 2): the
// output from byte 2 × `lowest` on.
void duplicateSamplesByteByByte(uint8_t* buffer, uint32_t recorded, uint32_t lowest = 0);
