// The compiler turns some copies and zero fills (a cleared local array, a
// record assignment) into calls to memset and memcpy. The module links
// against no C library, so those calls are served by COREDLL's own.
#include <stddef.h>

#include "module/frame/coredll.h"

extern "C" void* memset(void* destination, int value, size_t size) {
    return coredll::memset(destination, value, size);
}

extern "C" void* memcpy(void* destination, const void* source, size_t size) {
    return coredll::memcpy(destination, source, size);
}

// Unsigned division, which ARMv4T has no instruction for. Written here
// rather than taken from libgcc, whose routine saves its frame part-way
// through in a shape the exception table cannot describe.
namespace {

struct QuotientRemainder {
    unsigned quotient;
    unsigned remainder;
};

QuotientRemainder divideUnsigned(unsigned n, unsigned d) {
    if (d == 0) return {0, n};  // the platform's behaviour is undefined; nothing is raised
    // The divisor is first shifted up to the dividend, so that only the
    // quotient's own bits cost a step.
    unsigned quotient = 0, remainder = n, bit = 1;
    while (d < remainder && !(d & 0x80000000u)) {
        d <<= 1;
        bit <<= 1;
    }
    for (; bit; d >>= 1, bit >>= 1)
        if (remainder >= d) {
            remainder -= d;
            quotient |= bit;
        }
    return {quotient, remainder};
}

}  // namespace

extern "C" unsigned __aeabi_uidiv(unsigned n, unsigned d) { return divideUnsigned(n, d).quotient; }

// The quotient in r0 and the remainder in r1: a 64-bit result.
extern "C" unsigned long long __aeabi_uidivmod(unsigned n, unsigned d) {
    QuotientRemainder r = divideUnsigned(n, d);
    return (static_cast<unsigned long long>(r.remainder) << 32) | r.quotient;
}
