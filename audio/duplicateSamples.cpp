#include "audio/duplicateSamples.h"

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

// Last frame to first, each frame read before anything lands on it: output
// frames 2k, 2k + 1 lie at or after input frame k.
void duplicateAlignedWords(uint32_t* words, uint32_t wordCount) {
    for (uint32_t i = wordCount; i-- > 0;) {
        uint32_t pair = words[i];
        uint32_t low = pair & 0xFFFF;
        uint32_t high = pair >> 16;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        words[2 * i] = high | high << 16;
        words[2 * i + 1] = low | low << 16;
#else
        words[2 * i] = low | low << 16;
        words[2 * i + 1] = high | high << 16;
#endif
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
