// Rounding to integers (C99 7.12.9, and modf of 7.12.6.12): floor, ceil, trunc and round in their
// fixed directions, rint and nearbyint in the caller's rounding direction,
// and the lrint and lround families that convert the result. Every
// integral value of a type is exact in the type, so no result rounds twice.
#include "math.h"
#include "math/internal.h"

namespace kivm {

namespace {

long double round_toward(long double x, Rounding direction) {
    FpuMode mode(Precision::Extended, direction);
    return round_by_fpu(x);
}

// Halfway cases away from zero; the difference from the truncated value is
// exact.
long double round_half_away(long double x) {
    FpuMode mode;
    long double truncated = round_toward(x, Rounding::TowardZero);
    long double rest = absolute(x - truncated);
    if (rest < 0.5L) return truncated;
    return truncated + (sign_of(x) ? -1.0L : 1.0L);
}

// The fraction, with x's sign; the whole part goes to `whole`.
template <typename T> T split_fraction(T x, T *whole) {
    FpuMode mode;
    long double truncated = round_toward(x, Rounding::TowardZero);
    *whole = narrow<T>(truncated);
    if (is_inf(x)) return narrow<T>(with_sign(0.0L, sign_of(x)));
    return narrow<T>(with_sign(x - truncated, sign_of(x)));
}

// The FPU's own conversion: a value out of range (or a NaN) becomes the
// integer indefinite, the most negative integer, as on every x86 C library.
template <typename Integer> Integer convert(long double x) {
    Integer result;
    if constexpr (sizeof(Integer) == 4) asm("fistpl %0" : "=m"(result) : "t"(x) : "st");
    else asm("fistpll %0" : "=m"(result) : "t"(x) : "st");
    return result;
}

}  // namespace

}  // namespace kivm

#define KIVM_ROUNDING_FUNCTIONS(T, suffix)                                                                         \
    extern "C" T floor##suffix(T x) { return kivm::narrow<T>(kivm::round_toward(x, kivm::Rounding::Down)); }       \
    extern "C" T ceil##suffix(T x) { return kivm::narrow<T>(kivm::round_toward(x, kivm::Rounding::Up)); }          \
    extern "C" T trunc##suffix(T x) { return kivm::narrow<T>(kivm::round_toward(x, kivm::Rounding::TowardZero)); } \
    extern "C" T round##suffix(T x) { return kivm::narrow<T>(kivm::round_half_away(x)); }                          \
    extern "C" T rint##suffix(T x) { return kivm::narrow<T>(kivm::round_by_fpu(x)); }                              \
    extern "C" T nearbyint##suffix(T x) { return kivm::narrow<T>(kivm::round_by_fpu(x)); }                         \
    extern "C" T modf##suffix(T x, T *whole) { return kivm::split_fraction(x, whole); }                            \
    extern "C" long lrint##suffix(T x) { return kivm::convert<long>(kivm::round_by_fpu(x)); }                      \
    extern "C" long long llrint##suffix(T x) { return kivm::convert<long long>(kivm::round_by_fpu(x)); }           \
    extern "C" long lround##suffix(T x) { return kivm::convert<long>(kivm::round_half_away(x)); }                  \
    extern "C" long long llround##suffix(T x) { return kivm::convert<long long>(kivm::round_half_away(x)); }

KIVM_ROUNDING_FUNCTIONS(double, )
KIVM_ROUNDING_FUNCTIONS(float, f)
KIVM_ROUNDING_FUNCTIONS(long double, l)
