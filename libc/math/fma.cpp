// Fused multiply-add (C99 7.12.13), rounded once, after Boldo and
// Melquiond: x y = p + e exactly, z + p = s + t exactly, e + t rounded to
// odd, and one last addition rounded to the result's precision by the
// FPU's precision control.
#include "math.h"
#include "math/internal.h"
#include "math/series.h"

namespace kivm {

namespace {

// a + b rounded to odd: truncated, with its last bit set when inexact. It
// keeps the sign and the inexactness of the exact sum for the final
// rounding.
long double add_round_to_odd(long double a, long double b) {
    bool inexact = two_sum(a, b).lo != 0.0L;
    long double truncated;
    {
        FpuMode toward_zero(Precision::Extended, Rounding::TowardZero);
        truncated = fpu_barrier(fpu_barrier(a) + b);
    }
    if (!inexact) return truncated;
    Extended e = bits_of(truncated);
    e.significand |= 1;
    return from_bits(e);
}

// Past this a long double cannot be split into halves.
constexpr long double kSplitLimit = 0x1p16000L;

template <typename T> T fused(T x, T y, T z) {
    long double a = x;
    long double b = y;
    long double c = z;
    FpuMode mode;
    if (!is_finite(a) || !is_finite(b) || !is_finite(c) || a == 0.0L || b == 0.0L || c == 0.0L ||
        absolute(a) > kSplitLimit || absolute(b) > kSplitLimit) {
        FpuMode once(kPrecisionOf<T>);
        return narrow<T>(fpu_barrier(fpu_barrier(a) * b + c));
    }
    Pair product = two_product(a, b);
    Pair sum = two_sum(c, product.hi);
    long double odd = add_round_to_odd(sum.lo, product.lo);
    FpuMode once(kPrecisionOf<T>);
    return narrow<T>(fpu_barrier(fpu_barrier(sum.hi) + odd));
}

}  // namespace

}  // namespace kivm

extern "C" double fma(double x, double y, double z) { return kivm::fused(x, y, z); }
extern "C" float fmaf(float x, float y, float z) { return kivm::fused(x, y, z); }
extern "C" long double fmal(long double x, long double y, long double z) { return kivm::fused(x, y, z); }
