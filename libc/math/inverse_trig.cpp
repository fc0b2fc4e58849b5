// atan, atan2, asin and acos (C99 7.12.4). atan halves its argument twice
// (atan a = 2 atan(a / (1 + sqrt(1 + a^2)))) to below 0.2, where its
// series is short; asin and acos are atan2 of the legs of a right angle.
#include "math.h"
#include "math/internal.h"
#include "math/series.h"

namespace kivm {

namespace {

constexpr int kHalvings = 2;

// 1, -1/3, 1/5, ...: a^32 / 33 < 2^-64 for a <= 0.2.
struct AtanSeries {
    long double c[16];
    constexpr AtanSeries() : c() {
        for (int i = 0; i < 16; i++) c[i] = (i % 2 == 0 ? 1.0L : -1.0L) / (2 * i + 1);
    }
};
constexpr AtanSeries kAtanSeries;

// 0 <= a <= 1.
long double atan_unit(long double a) {
    for (int i = 0; i < kHalvings; i++) a = a / (1.0L + root_by_fpu(1.0L + a * a));
    return scale(a * horner(kAtanSeries.c, a * a), kHalvings);
}

// a >= 0 or +inf.
long double atan_magnitude(long double a) { return a <= 1.0L ? atan_unit(a) : kHalfPi - atan_unit(1.0L / a); }

}  // namespace

long double atan_kernel(long double x) {
    if (is_nan(x)) return x;
    return with_sign(atan_magnitude(absolute(x)), sign_of(x));
}

// C99 F.9.1.4 for zeros and infinities; else atan(|y/x|) placed in its
// quadrant.
long double atan2_kernel(long double y, long double x) {
    if (is_nan(x) || is_nan(y)) return x + y;
    bool west = sign_of(x);
    long double angle;
    if (y == 0.0L) angle = west ? kPi : 0.0L;
    else if (is_inf(y)) angle = is_inf(x) ? (west ? 3.0L * kQuarterPi : kQuarterPi) : kHalfPi;
    else if (x == 0.0L) angle = kHalfPi;
    else if (is_inf(x)) angle = west ? kPi : 0.0L;
    else {
        long double t = atan_magnitude(absolute(y) / absolute(x));
        angle = west ? kPi - t : t;
    }
    return with_sign(angle, sign_of(y));
}

namespace {

// The other leg of the right triangle with hypotenuse 1: sqrt(1 - x^2),
// from factors that are exact for |x| >= 1/2.
long double cathetus(long double x) { return root_by_fpu((1.0L - x) * (1.0L + x)); }

long double asin_kernel(long double x) {
    if (absolute(x) > 1.0L) return quiet_nan();
    return atan2_kernel(x, cathetus(x));
}

long double acos_kernel(long double x) {
    if (absolute(x) > 1.0L) return quiet_nan();
    return atan2_kernel(cathetus(x), x);
}

}  // namespace

}  // namespace kivm

KIVM_UNARY(atan, kivm::atan_kernel)
KIVM_BINARY(atan2, kivm::atan2_kernel)
KIVM_UNARY(asin, kivm::asin_kernel)
KIVM_UNARY(acos, kivm::acos_kernel)
