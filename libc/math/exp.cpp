// Exponentials (C99 7.12.6): exp, exp2 and expm1. x = k ln2 + r with
// |r| <= ln2/2, reduced with a two-part ln2 whose high part times k is
// exact; e^r from its Taylor series, 2^k by the exponent.
#include "math.h"
#include "math/internal.h"
#include "math/series.h"

namespace kivm {

namespace {

// Beyond these 2^x is infinite, or below the smallest long double.
constexpr long double kExp2Overflow = 16385.0L;
constexpr long double kExp2Underflow = -16447.0L;
// Below this expm1(x) is -1 to every precision.
constexpr long double kExpm1Saturates = -50.0L;
constexpr long double kHalfLn2 = 0.35L;

// 1/2!, 1/3!, ... 1/18!: |r|^19/19! < 2^-64 |r| for |r| <= ln2/2.
constexpr FactorialSeries<17> kExpm1Tail(2, 1, false);

// (e^r - 1) / r - 1 = r/2! + r^2/3! + ...
long double expm1_tail(long double r) { return r * horner(kExpm1Tail.c, r); }

struct ExpReduction {
    long k;
    long double r;
};

ExpReduction reduce_ln2(long double x) {
    long double k = round_by_fpu(x * kLog2E);
    return {static_cast<long>(k), (x - k * kLn2High) - k * kLn2Low};
}

}  // namespace

long double expm1_reduced(long double r) { return r + r * expm1_tail(r); }
long double exp_reduced(long double r) { return 1.0L + (r + r * expm1_tail(r)); }

long double exp_kernel(long double x) {
    if (is_nan(x)) return x;
    if (x > kExpOverflow) return infinity();
    if (x < kExpUnderflow) return is_inf(x) ? 0.0L : underflowed();
    ExpReduction reduced = reduce_ln2(x);
    return scale(exp_reduced(reduced.r), reduced.k);
}

long double exp2_kernel(long double x) {
    if (is_nan(x)) return x;
    if (x > kExp2Overflow) return infinity();
    if (x < kExp2Underflow) return is_inf(x) ? 0.0L : underflowed();
    long double k = round_by_fpu(x);
    return scale(exp_reduced((x - k) * kLn2), static_cast<long>(k));
}

long double expm1_kernel(long double x) {
    if (is_nan(x) || x == 0.0L) return x;
    if (absolute(x) <= kHalfLn2) return expm1_reduced(x);
    if (x < kExpm1Saturates) return -1.0L;
    if (x > kExpOverflow) return infinity();
    ExpReduction reduced = reduce_ln2(x);
    // 2^k (e^r - 1) + (2^k - 1): both terms exact in their scaling.
    return scale(expm1_reduced(reduced.r), reduced.k) + (scale(1.0L, reduced.k) - 1.0L);
}

}  // namespace kivm

KIVM_UNARY(exp, kivm::exp_kernel)
KIVM_UNARY(exp2, kivm::exp2_kernel)
KIVM_UNARY(expm1, kivm::expm1_kernel)
