#include "module/banner/bannerLayout.h"

namespace {

// The module has no floating point of its own: libgcc's double routines keep
// frames the exception table cannot describe. The two roundings of the
// double-precision formula, q = 407 / h and then q * (w * 0.5), are done
// here on integers, each to nearest with ties to even on a 53-bit mantissa.
// ARMv4T has no divide instruction but has long multiplies: the quotient
// comes from a reciprocal of h, corrected until it is exact.
constexpr int kMantissaBits = 53;

// Bits below the highest set bit plus one; 0 for 0.
int bitLength(uint32_t v) {
    int n = 0;
    if (v >> 16) v >>= 16, n += 16;
    if (v >> 8) v >>= 8, n += 8;
    if (v >> 4) v >>= 4, n += 4;
    if (v >> 2) v >>= 2, n += 2;
    if (v >> 1) v >>= 1, n += 1;
    return n + int(v);
}

uint32_t highWord(uint64_t v) { return uint32_t(v >> 32); }

// floor((2^64 - 1) / d) - 2^32, for d from 2^31 to 2^32 - 1. The estimate
// x = 1 + v / 2^32 of 2^32 / d starts on the tangent of 1/x at its middle,
// at or below the true value, and each Newton step x += x (1 - x d / 2^32)
// about doubles its correct bits while keeping it below: four steps leave
// v a few units short, and the remainder of (2^64 - 1) / d counts them.
uint32_t reciprocalOf(uint32_t d) {
    constexpr uint32_t kTangentAtMiddle = 0xD413CCCF;  // (2√2 - 2) × 2^32: x = 2√2 - 2 d / 2^32
    uint32_t twice = d << 1;                            // 2d - 2^32
    uint32_t v = twice < kTangentAtMiddle ? kTangentAtMiddle - twice : 0;
    for (int step = 0; step < 4; ++step) {
        uint32_t error = highWord(0 - (uint64_t(d) * v + (uint64_t(d) << 32)));  // 1 - x d, times 2^32
        v += error + highWord(uint64_t(v) * error);
    }
    uint64_t remainder = ~(uint64_t(d) * v + (uint64_t(d) << 32));  // 2^64 - 1 - (2^32 + v) d
    while (remainder >= d) ++v, remainder -= d;
    return v;
}

// floor(high × 2^32 / d) and its remainder, for high below d, with d from
// 2^31 up and v its reciprocal (the division by an invariant integer of
// Möller and Granlund).
uint32_t divideStep(uint32_t high, uint32_t d, uint32_t v, uint32_t& remainder) {
    uint64_t estimate = uint64_t(v) * high + (uint64_t(high + 1) << 32);
    uint32_t q = highWord(estimate);
    uint32_t r = 0 - q * d;
    if (r > uint32_t(estimate)) --q, r += d;
    if (r >= d) ++q, r -= d;
    remainder = r;
    return q;
}

// 407 / h (h from 1 to 2^31 - 1) rounded to mantissa * 2^exponent.
void quotientOf407(uint32_t h, uint64_t& mantissa, int& exponent) {
    constexpr uint32_t kNumerator = 407u << 22;  // below 2^31, so below any normalized divisor
    int shift = 32 - bitLength(h);
    uint32_t d = h << shift;
    uint32_t v = reciprocalOf(d);
    uint32_t remainder = 0;
    uint32_t high = divideStep(kNumerator, d, v, remainder);
    uint32_t low = divideStep(remainder, d, v, remainder);
    // 407 / h = (high:low + remainder / d) * 2^(shift - 86), high:low of 63 or 64 bits.
    int drop = high >> 31 ? 11 : 10;
    uint64_t m = (uint64_t(high) << 32 | low) >> drop;
    uint32_t rest = low & ((1u << drop) - 1), half = 1u << (drop - 1);
    if (rest > half || (rest == half && (remainder != 0 || (m & 1)))) ++m;
    if (m >> kMantissaBits) m >>= 1, ++drop;
    mantissa = m;
    exponent = shift - 86 + drop;
}

// The integer part of the double nearest to m * w * 2^exponent (m of 53
// bits, w below 2^31), or false when that exceeds 2147483647.
bool multiplyRoundedToInteger(uint64_t m, uint32_t w, int exponent, uint32_t& result) {
    uint64_t low = uint64_t(uint32_t(m)) * w;
    uint64_t high = uint64_t(highWord(m)) * w + highWord(low);  // product = high * 2^32 + low32
    uint32_t low32 = uint32_t(low);
    int length = highWord(high) ? 64 + bitLength(highWord(high)) : 32 + bitLength(uint32_t(high));
    int drop = length - kMantissaBits;  // 0 to 31: the product has 53 to 84 bits
    uint64_t mantissa = drop ? (high << (32 - drop)) | (low32 >> drop) : (high << 32) | low32;
    if (drop) {
        uint32_t rest = low32 & ((1u << drop) - 1), half = 1u << (drop - 1);
        if (rest > half || (rest == half && (mantissa & 1))) ++mantissa;
        if (mantissa >> kMantissaBits) mantissa >>= 1, ++drop;
    }
    // The rounded value is mantissa * 2^-cut, mantissa of 53 bits: its
    // integer part fits 31 bits only when at least 22 of them are cut.
    int cut = -(exponent + drop);
    if (cut < kMantissaBits - 31) return false;
    result = cut >= kMantissaBits ? 0 : uint32_t(mantissa >> cut);
    return true;
}

// False for a size whose scaled half width is no coordinate at all.
bool scaledHalfWidthOf(int32_t w, int32_t h, uint32_t& scaled) {
    if (w <= 0 || h <= 0) return false;
    uint64_t q = 0;
    int exponent = 0;
    quotientOf407(uint32_t(h), q, exponent);
    return multiplyRoundedToInteger(q, uint32_t(w), exponent - 1, scaled);  // w * 0.5 is exact
}

}  // namespace

BannerLayout bannerLayout(int32_t w, int32_t h) {
    uint32_t scaled = 0;
    bool drawable = scaledHalfWidthOf(w, h, scaled);
    int32_t half = drawable ? w / 2 : 0;
    int32_t height = drawable ? h : 0;
    int32_t width = int32_t(scaled);

    BannerLayout layout;
    layout.sourceHalfWidth = half;
    layout.scaledHalfWidth = scaled;
    layout.left = {0, 0, width, kBannerHeight, 0, 0, half, height};
    layout.right = {kBannerWidth - width, 0, width, kBannerHeight, half, 0, half, height};
    return layout;
}
