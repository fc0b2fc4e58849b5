// The binary exponent: split_exponent and scale for the kernels, and the
// public frexp, ldexp, scalbn, scalbln, logb and ilogb (C99 7.12.6).
#include "math.h"
#include "math/internal.h"

namespace kivm {

namespace {

constexpr int kHalfBiased = kExponentBias - 1;  // the field of a value in [0.5, 1)
constexpr int kMaxField = 0x7ffe;
// Below this, m * 2^exponent rounds to zero even from the largest m.
constexpr long kBelowSubnormals = -kExponentBias - kSignificandBits - 2;
constexpr int kSubnormalShift = 128;
constexpr long double kSubnormalScale = 0x1p-128L;
constexpr long kClamp = 1L << 20;

long double make(bool negative, int field, uint64_t significand) {
    return from_bits({significand, static_cast<uint16_t>(field | (negative ? kSignBit : 0))});
}

}  // namespace

long double split_exponent(long double x, int &exponent) {
    Extended e = bits_of(x);
    int field = e.sign_exponent & kExponentMask;
    uint64_t significand = e.significand;
    if (field == 0) {  // a subnormal long double: normalise it
        int shift = __builtin_clzll(significand);
        significand <<= shift;
        field = 1 - shift;
    }
    exponent = field - kHalfBiased;
    return make(sign_of(x), kHalfBiased, significand);
}

long double scale(long double x, long n) {
    if (x == 0.0L || !is_finite(x)) return x;
    int exponent = 0;
    long double m = split_exponent(x, exponent);
    n = n > kClamp ? kClamp : n < -kClamp ? -kClamp : n;
    long target = exponent + n;
    uint64_t significand = bits_of(m).significand;
    bool negative = sign_of(x);
    if (target + kHalfBiased > kMaxField) return with_sign(infinity(), negative);
    if (target + kHalfBiased >= 1) return make(negative, static_cast<int>(target + kHalfBiased), significand);
    if (target < kBelowSubnormals) return with_sign(0.0L, negative);
    // One rounding, by the multiplication that makes the value subnormal.
    return make(negative, static_cast<int>(target + kSubnormalShift + kHalfBiased), significand) * kSubnormalScale;
}

namespace {

long double frexp_kernel(long double x, int *exponent) {
    *exponent = 0;
    if (x == 0.0L || !is_finite(x)) return x;
    return split_exponent(x, *exponent);
}

long double logb_kernel(long double x) {
    if (is_nan(x)) return x;
    if (is_inf(x)) return infinity();
    if (x == 0.0L) return -infinity();
    int exponent = 0;
    split_exponent(x, exponent);
    return exponent - 1;
}

// ldexp and its twins: x 2^n, rounded once to T.
template <typename T> T scaled(T x, long n) {
    FpuMode mode;
    return finish<T>(scale(x, n), x);
}

int ilogb_kernel(long double x) {
    if (x == 0.0L || !is_finite(x)) {
        errno = EDOM;
        return is_inf(x) ? __INT_MAX__ : FP_ILOGB0;
    }
    int exponent = 0;
    split_exponent(x, exponent);
    return exponent - 1;
}

}  // namespace

}  // namespace kivm

#define KIVM_EXPONENT_FUNCTIONS(T, suffix)                                                                      \
    extern "C" T frexp##suffix(T x, int *exponent) { return kivm::narrow<T>(kivm::frexp_kernel(x, exponent)); } \
    extern "C" T ldexp##suffix(T x, int n) { return kivm::scaled<T>(x, n); }                                    \
    extern "C" T scalbn##suffix(T x, int n) { return kivm::scaled<T>(x, n); }                                   \
    extern "C" T scalbln##suffix(T x, long n) { return kivm::scaled<T>(x, n); }                                 \
    extern "C" T logb##suffix(T x) { return kivm::narrow<T>(kivm::logb_kernel(x)); }                            \
    extern "C" int ilogb##suffix(T x) { return kivm::ilogb_kernel(x); }

KIVM_EXPONENT_FUNCTIONS(double, )
KIVM_EXPONENT_FUNCTIONS(float, f)
KIVM_EXPONENT_FUNCTIONS(long double, l)
