#include "module/audio/duplicateSamples.h"

#include <stdint.h>

// Step i in the order of its definition: with an odd count, step 1 writes
// byte 2 before it reads it.
__attribute__((noinline)) void duplicateSamplesByteByByte(uint8_t* b, uint32_t n, uint32_t lowest) {
    if (n < lowest + 2) return;
    const uint8_t* in = b + n;  // just past bytes i and i + 1
    uint8_t* out = b + 2 * n;   // just past bytes 2i to 2i + 3
    do {
        out[-2] = in[-2];
        out[-4] = out[-2];
        out[-1] = in[-1];
        out[-3] = out[-1];
        in -= 2;
        out -= 4;
    } while (in >= b + lowest + 2);
}

// Byte k of a word is bits 8k to 8k + 7: the shapes below name bytes by
// their place in memory.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the word shapes assume little-endian words");

namespace {

// The processor faults on misaligned word and halfword access, so the
// buffer is worked on in the words that lie wholly inside it. Each shape
// says how a word's two output words come from it; the words are counted
// from the buffer's first whole word. On the device a shape spreads four
// input words at a time, with one load-multiple and one store-multiple
// whose register lists fix the registers: input words in r4, r6, r8 and r10
// (the word above them, where a shape needs it, in r12), output words in r4
// to r11. The host build runs the same shapes a word at a time.
#if defined(__arm__)
#define SPREAD_FOUR(Shape, in, out, load, body)                                         \
    asm volatile(load body "stmdb %[o]!, {r4, r5, r6, r7, r8, r9, r10, r11}"           \
                 : [i] "+r"(in), [o] "+r"(out)                                           \
                 :                                                                       \
                 : "r4", "r5", "r6", "r7", "r8", "r9", "r10", "r11", "r12", "memory")
#else
#define SPREAD_FOUR(Shape, in, out, load, body) spreadFourByWords<Shape>(in, out)
#endif
#define LOAD_FOUR "ldmdb %[i]!, {r4, r6, r8, r10}\n\t"
#define LOAD_FOUR_AND_NEXT "sub %[i], %[i], #16\n\tldmia %[i], {r4, r6, r8, r10, r12}\n\t"
// A shape's two steps, as assembly text (`second` from an output register,
// the input word and the next word; `first` in place), over the four words:
// every second output word while all input words still stand, then the
// first ones. r12 is the steps' scratch register.
#define FOUR_WORDS(second, first)                                                                 \
    second("r11", "r10", "r12") second("r9", "r8", "r10") second("r7", "r6", "r8") second("r5", "r4", "r6") \
        first("r10") first("r8") first("r6") first("r4")

template <typename Shape>
void spreadFourByWords(const uint32_t*& in, uint32_t*& out) {
    uint32_t next = *in;
    for (int k = 0; k < 4; ++k) {
        uint32_t w = *--in;
        *--out = Shape::second(w, next);
        *--out = Shape::first(w);
        next = w;
    }
}

// The buffer starts a word: input word j holds frames 2j and 2j + 1, and
// output words 2j and 2j + 1 hold each of them twice.
struct StartsAWord {
    static uint32_t first(uint32_t w) { return w << 16 | (w & 0xFFFF); }
    static uint32_t second(uint32_t w, uint32_t) { return w >> 16 | (w >> 16) << 16; }
#define STARTS_A_WORD_SECOND(out, w, next) "mov " out ", " w ", lsr #16\n\t orr " out ", " out ", " out ", lsl #16\n\t"
#define STARTS_A_WORD_FIRST(w) "mov " w ", " w ", lsl #16\n\t orr " w ", " w ", " w ", lsr #16\n\t"
    static void four(const uint32_t*& in, uint32_t*& out) {
        SPREAD_FOUR(StartsAWord, in, out, LOAD_FOUR, FOUR_WORDS(STARTS_A_WORD_SECOND, STARTS_A_WORD_FIRST));
    }
};

// The other three start `kOffset` bytes into a word. Input word j gives
// output words 2j + 1 and 2j + 2, the second with the low bytes of input
// word j + 1 (`next`); output word 0, which needs frame 0 from before the
// first whole word, is the `head`.

// Input word j is bytes 4j + 3 to 4j + 6; output word k is bytes 4k + 3 to
// 4k + 6: frame k's high byte, then frame k + 1 and its low byte again.
struct OneByteIn {
    static constexpr uint32_t kOffset = 1;
    static uint32_t first(uint32_t w) { return (w & 0x00FFFFFF) | (w & 0x0000FF00) << 16; }
    static uint32_t second(uint32_t w, uint32_t next) { return (w & 0xFF000000) | w >> 16 | (next & 0xFF) << 16; }
#define ONE_BYTE_IN_SECOND(out, w, next) \
    "and " out ", " w ", #0xFF000000\n\t orr " out ", " out ", " w ", lsr #16\n\t" \
    "and r12, " next ", #0xFF\n\t orr " out ", " out ", r12, lsl #16\n\t"
#define ONE_BYTE_IN_FIRST(w) "and r12, " w ", #0xFF00\n\t bic " w ", " w ", #0xFF000000\n\t orr " w ", " w ", r12, lsl #16\n\t"
    static void four(const uint32_t*& in, uint32_t*& out) {
        SPREAD_FOUR(OneByteIn, in, out, LOAD_FOUR_AND_NEXT, FOUR_WORDS(ONE_BYTE_IN_SECOND, ONE_BYTE_IN_FIRST));
    }
    // Output bytes 0 to 2 are frame 0 and its low byte again; output word 0
    // is frame 0's high byte, frame 1 (bytes 2 and 3) and byte 2 again.
    static void head(uint8_t* buffer, uint32_t* words) {
        uint32_t bytes1and2 = *reinterpret_cast<const uint16_t*>(buffer + 1);
        words[0] = bytes1and2 | (words[0] & 0xFF) << 16 | (bytes1and2 >> 8) << 24;
        buffer[2] = buffer[0];
    }
};

// Input word j holds frames 2j + 1 and 2j + 2; output word k holds frames k
// and k + 1, so every other output word is an input word as it stands.
struct TwoBytesIn {
    static constexpr uint32_t kOffset = 2;
    static uint32_t first(uint32_t w) { return w; }
    static uint32_t second(uint32_t w, uint32_t next) { return w >> 16 | next << 16; }
#define TWO_BYTES_IN_SECOND(out, w, next) "mov " out ", " next ", lsl #16\n\t orr " out ", " out ", " w ", lsr #16\n\t"
#define TWO_BYTES_IN_FIRST(w) ""
    static void four(const uint32_t*& in, uint32_t*& out) {
        SPREAD_FOUR(TwoBytesIn, in, out, LOAD_FOUR_AND_NEXT, FOUR_WORDS(TWO_BYTES_IN_SECOND, TWO_BYTES_IN_FIRST));
    }
    // Output bytes 0 and 1 are frame 0 as it stands; output word 0 is frames 0 and 1.
    static void head(uint8_t* buffer, uint32_t* words) {
        words[0] = *reinterpret_cast<const uint16_t*>(buffer) | words[0] << 16;
    }
};

// Input word j is bytes 4j + 1 to 4j + 4; output word k is bytes 4k + 1 to
// 4k + 4: frame k's high byte, frame k again, then frame k + 1's low byte.
struct ThreeBytesIn {
    static constexpr uint32_t kOffset = 3;
    static uint32_t first(uint32_t w) { return (w & 0xFFFFFF00) | (w & 0x00FF0000) >> 16; }
    static uint32_t second(uint32_t w, uint32_t next) { return (next & 0xFF) | next << 16 | (w & 0xFF000000) >> 16; }
#define THREE_BYTES_IN_SECOND(out, w, next) \
    "and " out ", " next ", #0xFF\n\t orr " out ", " out ", " next ", lsl #16\n\t" \
    "and r12, " w ", #0xFF000000\n\t orr " out ", " out ", r12, lsr #16\n\t"
#define THREE_BYTES_IN_FIRST(w) "and r12, " w ", #0xFF0000\n\t bic " w ", " w ", #0xFF\n\t orr " w ", " w ", r12, lsr #16\n\t"
    static void four(const uint32_t*& in, uint32_t*& out) {
        SPREAD_FOUR(ThreeBytesIn, in, out, LOAD_FOUR_AND_NEXT, FOUR_WORDS(THREE_BYTES_IN_SECOND, THREE_BYTES_IN_FIRST));
    }
    // Output byte 0 is byte 0 as it stands; output word 0 is frame 0's high
    // byte (byte 1), byte 0, byte 1 again and byte 2.
    static void head(uint8_t* buffer, uint32_t* words) {
        uint32_t byte1 = words[0] & 0xFF;
        words[0] = byte1 | buffer[0] << 8 | byte1 << 16 | (words[0] & 0xFF00) << 16;
    }
};

// Output words from `out` down, four input words at a time from `in` down
// to `lowest`; each word is read before its outputs land above it.
template <typename Shape>
void spreadBlocks(const uint32_t* in, uint32_t* out, const uint32_t* lowest) {
    do Shape::four(in, out);
    while (in != lowest);
}

// Whole output words 0 to 8 × blocks; the frames above them go by the byte
// steps first, and output word 0 comes last, from frame 0 and input word 0,
// which no output has reached.
template <typename Shape>
void duplicateShifted(uint8_t* buffer, uint32_t recorded) {
    uint32_t blocks = (recorded / 2 - 2) / 8;
    duplicateSamplesByteByByte(buffer, recorded, 2 * (8 * blocks + 1));
    uint32_t* words = reinterpret_cast<uint32_t*>(buffer + 4 - Shape::kOffset);
    spreadBlocks<Shape>(words + 4 * blocks, words + 8 * blocks + 1, words);
    Shape::head(buffer, words);
}

}  // namespace

// Whole words at every alignment, with exactly the bytes the byte steps
// give: eight frames a step, the frames above the last step and odd counts
// (one-byte frames) by the byte steps.
void duplicateSamples(uint8_t* buffer, uint32_t recorded) {
    uint32_t offset = reinterpret_cast<uintptr_t>(buffer) % 4;
    if (recorded % 2 != 0 || recorded < 20) {
        duplicateSamplesByteByByte(buffer, recorded);
    } else if (offset == 0) {
        uint32_t blocks = recorded / 16;
        if (recorded % 16 != 0) duplicateSamplesByteByByte(buffer, recorded, 16 * blocks);
        uint32_t* words = reinterpret_cast<uint32_t*>(buffer);
        spreadBlocks<StartsAWord>(words + 4 * blocks, words + 8 * blocks, words);
    } else if (offset == 1) {
        duplicateShifted<OneByteIn>(buffer, recorded);
    } else if (offset == 2) {
        duplicateShifted<TwoBytesIn>(buffer, recorded);
    } else {
        duplicateShifted<ThreeBytesIn>(buffer, recorded);
    }
}
