// Remainders (C99 7.12.10): fmod, remainder and remquo, exact, by long
// division of the two 64-bit significands one bit of the exponent
// difference at a time.
#include "math.h"
#include "math/internal.h"

namespace kivm {

namespace {

constexpr unsigned kQuotientBits = 3;  // what remquo reports, as on x86

struct Division {
    long double remainder;  // of |x| by |y|, in [0, |y|)
    uint32_t quotient;      // the low bits of the integer quotient
};

Division divide_magnitudes(long double x, long double y) {
    int x_exponent = 0;
    int y_exponent = 0;
    uint64_t dividend = bits_of(split_exponent(x, x_exponent)).significand;
    uint64_t divisor = bits_of(split_exponent(y, y_exponent)).significand;
    if (x_exponent < y_exponent) return {absolute(x), 0};
    uint64_t rest = dividend % divisor;
    uint32_t quotient = static_cast<uint32_t>(dividend / divisor);
    for (int step = x_exponent - y_exponent; step > 0; step--) {
        bool carry = (rest >> 63) != 0;
        rest <<= 1;
        quotient <<= 1;
        if (carry || rest >= divisor) {
            rest -= divisor;
            quotient |= 1;
        }
    }
    // rest * 2^(y_exponent - 64) exactly: the significand's unit.
    return {scale(static_cast<long double>(rest), y_exponent - kSignificandBits), quotient};
}

bool unordered_or_invalid(long double x, long double y) { return is_nan(x) || is_nan(y) || is_inf(x) || y == 0.0L; }

long double fmod_kernel(long double x, long double y) {
    FpuMode mode;
    if (unordered_or_invalid(x, y)) return is_nan(x) || is_nan(y) ? x + y : quiet_nan();
    if (is_inf(y) || x == 0.0L) return x;
    return with_sign(divide_magnitudes(x, y).remainder, sign_of(x));
}

// The remainder nearest to zero; a tie takes the even quotient.
long double remquo_kernel(long double x, long double y, int *quotient) {
    FpuMode mode;
    *quotient = 0;
    if (unordered_or_invalid(x, y)) return is_nan(x) || is_nan(y) ? x + y : quiet_nan();
    if (is_inf(y) || x == 0.0L) return x;
    Division d = divide_magnitudes(x, y);
    long double divisor = absolute(y);
    long double twice = scale(d.remainder, 1);
    if (twice > divisor || (twice == divisor && (d.quotient & 1) != 0)) {
        d.remainder -= divisor;
        d.quotient++;
    }
    int low = static_cast<int>(d.quotient & ((1u << kQuotientBits) - 1));
    *quotient = sign_of(x) != sign_of(y) ? -low : low;
    return d.remainder == 0.0L ? with_sign(0.0L, sign_of(x)) : sign_of(x) ? -d.remainder : d.remainder;
}

long double remainder_kernel(long double x, long double y) {
    int ignored;
    return remquo_kernel(x, y, &ignored);
}

}  // namespace

}  // namespace kivm

#define KIVM_REMAINDER_FUNCTIONS(T, suffix)                                                                  \
    extern "C" T fmod##suffix(T x, T y) { return kivm::finish<T>(kivm::fmod_kernel(x, y), x, y); }           \
    extern "C" T remainder##suffix(T x, T y) { return kivm::finish<T>(kivm::remainder_kernel(x, y), x, y); } \
    extern "C" T remquo##suffix(T x, T y, int *quotient) {                                                   \
        return kivm::narrow<T>(kivm::remquo_kernel(x, y, quotient));                                         \
    }

KIVM_REMAINDER_FUNCTIONS(double, )
KIVM_REMAINDER_FUNCTIONS(float, f)
KIVM_REMAINDER_FUNCTIONS(long double, l)
