#include "module/banner/bannerLayout.h"

namespace {

// The module has no floating point of its own: libgcc's double routines keep
// frames the exception table cannot describe. The two roundings of the
// double-precision formula, q = 407 / h and then q * (w * 0.5), are done
// here on integers, each to nearest with ties to even on a 53-bit mantissa.
constexpr int kMantissaBits = 53;

int bitLength(uint64_t v) {
    int n = 0;
    for (int step = 32; step; step >>= 1)
        if (v >> step) v >>= step, n += step;
    return n + int(v);
}

// a / b (both positive, below 2^31) as mantissa * 2^exponent. Once a lies
// in [b, 2b), every step keeps the remainder below b, so twice it fits 32
// bits; the quotient's bits go to two 32-bit halves.
void divideRounded(uint32_t a, uint32_t b, uint64_t& mantissa, int& exponent) {
    int e = 0;
    while (a < b) a <<= 1, --e;
    while (a >= 2 * b) b <<= 1, ++e;
    uint32_t high = 0, low = 0;
    for (int i = 0; i < kMantissaBits - 32; ++i) {
        high = high << 1 | (a >= b);
        if (a >= b) a -= b;
        a <<= 1;
    }
    for (int i = 0; i < 32; ++i) {
        low = low << 1 | (a >= b);
        if (a >= b) a -= b;
        a <<= 1;
    }
    uint64_t m = uint64_t(high) << 32 | low;
    if (a > b || (a == b && (m & 1))) ++m;  // a is twice the remainder
    if (m >> kMantissaBits) m >>= 1, ++e;
    mantissa = m;
    exponent = e - (kMantissaBits - 1);
}

// The integer part of the double nearest to m * w * 2^exponent (m below
// 2^53, w below 2^31), or false when that double exceeds 2147483647.
bool multiplyRoundedToInteger(uint64_t m, uint32_t w, int exponent, uint32_t& result) {
    uint64_t low = (m & 0xFFFFFFFFu) * w;
    uint64_t high = (m >> 32) * w + (low >> 32);  // product = high * 2^32 + low32
    uint64_t low32 = low & 0xFFFFFFFFu;
    int length = high ? bitLength(high) + 32 : bitLength(low32);
    int drop = length > kMantissaBits ? length - kMantissaBits : 0;
    uint64_t mantissa = drop ? (high << (32 - drop)) | (low32 >> drop) : (high << 32) | low32;
    if (drop) {
        uint64_t rest = low32 & ((uint64_t(1) << drop) - 1), half = uint64_t(1) << (drop - 1);
        if (rest > half || (rest == half && (mantissa & 1))) ++mantissa;
        if (mantissa >> kMantissaBits) mantissa >>= 1, ++drop;
    }
    int shift = exponent + drop;  // the rounded value is mantissa * 2^shift
    uint64_t whole = shift >= 0 ? (shift > 31 ? ~uint64_t(0) : mantissa << shift) : (-shift >= 64 ? 0 : mantissa >> -shift);
    if (shift >= 0 && mantissa && (whole >> shift) != mantissa) return false;
    if (whole > 2147483647u) return false;
    result = uint32_t(whole);
    return true;
}

// False for a size whose scaled half width is no coordinate at all.
bool scaledHalfWidthOf(int32_t w, int32_t h, uint32_t& scaled) {
    if (w <= 0 || h <= 0) return false;
    uint64_t q = 0;
    int exponent = 0;
    divideRounded(uint32_t(kBannerHeight), uint32_t(h), q, exponent);
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
