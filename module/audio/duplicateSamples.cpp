#include "module/audio/duplicateSamples.h"

#include <stdint.h>

void duplicateSamplesByteByByte(uint8_t* b, uint32_t n) {
    if (n < 2) return;
    for (uint32_t i = n - 2;; i -= 2) {
        b[2 * i + 2] = b[i];
        b[2 * i] = b[2 * i + 2];
        b[2 * i + 3] = b[i + 1];
        b[2 * i + 1] = b[2 * i + 3];
        if (i < 2) break;
    }
}

namespace {

// A word holds two frames; each of these is one of them written twice.
// The first frame in memory is the low half on a little-endian processor.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
inline uint32_t firstFrameTwice(uint32_t pair) { uint32_t t = pair >> 16; return t | t << 16; }
inline uint32_t secondFrameTwice(uint32_t pair) { uint32_t t = pair << 16; return t | t >> 16; }
#else
inline uint32_t firstFrameTwice(uint32_t pair) { uint32_t t = pair << 16; return t | t >> 16; }
inline uint32_t secondFrameTwice(uint32_t pair) { uint32_t t = pair >> 16; return t | t << 16; }
#endif

// Last frame to first, each frame read before anything lands on it: output
// words 2i, 2i + 1 lie at or after input word i. Four input words a step,
// so the loop's own bookkeeping is paid once per eight frames; then the one
// to three words left at the start, one at a time.
void duplicateAlignedWords(uint32_t* words, uint32_t wordCount) {
    const uint32_t* in = words + wordCount;
    uint32_t* out = words + 2 * wordCount;
    for (uint32_t steps = wordCount / 4; steps-- > 0;) {
        in -= 4;
        out -= 8;
        uint32_t a = in[0], b = in[1], c = in[2], d = in[3];
        out[0] = firstFrameTwice(a);
        out[1] = secondFrameTwice(a);
        out[2] = firstFrameTwice(b);
        out[3] = secondFrameTwice(b);
        out[4] = firstFrameTwice(c);
        out[5] = secondFrameTwice(c);
        out[6] = firstFrameTwice(d);
        out[7] = secondFrameTwice(d);
    }
    for (uint32_t left = wordCount % 4; left-- > 0;) {
        uint32_t pair = *--in;
        out -= 2;
        out[0] = firstFrameTwice(pair);
        out[1] = secondFrameTwice(pair);
    }
}

void duplicateAlignedHalfwords(uint16_t* frames, uint32_t frameCount) {
    for (uint32_t k = frameCount; k-- > 0;) {
        uint16_t frame = frames[k];
        frames[2 * k] = frame;
        frames[2 * k + 1] = frame;
    }
}

}  // namespace

// Whole words where the buffer allows (the processor faults on misaligned
// word and halfword access), with exactly the bytes the byte steps give.
void duplicateSamples(uint8_t* buffer, uint32_t recorded) {
    uintptr_t address = reinterpret_cast<uintptr_t>(buffer);
    if (recorded % 2 != 0 || address % 2 != 0) {
        duplicateSamplesByteByByte(buffer, recorded);
        return;
    }
    if (address % 4 != 0) {
        duplicateAlignedHalfwords(reinterpret_cast<uint16_t*>(buffer), recorded / 2);
        return;
    }
    // The odd frame at the end goes first: its copies land after every word's.
    if (recorded % 4 != 0) {
        uint32_t last = recorded - 2;
        buffer[2 * last] = buffer[2 * last + 2] = buffer[last];
        buffer[2 * last + 1] = buffer[2 * last + 3] = buffer[last + 1];
    }
    duplicateAlignedWords(reinterpret_cast<uint32_t*>(buffer), recorded / 4);
}
