// sin, cos and tan (C99 7.12.4): the argument reduced to [-pi/4, pi/4] and
// a quadrant, then the Taylor series of sin or cos.
#include "math.h"
#include "math/internal.h"
#include "math/series.h"

namespace kivm {

namespace {

// |r| <= pi/4: r^23/23! and r^22/22! are below 2^-64 of the result.
constexpr FactorialSeries<11> kSinSeries(1, 2, true);  // 1/1!, -1/3!, 1/5!, ...
constexpr FactorialSeries<12> kCosSeries(0, 2, true);  // 1/0!, -1/2!, 1/4!, ...

}  // namespace

long double sin_reduced(long double r) { return r * horner(kSinSeries.c, r * r); }

long double cos_reduced(long double r) { return horner(kCosSeries.c, r * r); }

namespace {

long double sin_kernel(long double x) {
    if (!is_finite(x)) return x - x;
    Reduced reduced = reduce_half_pi(x);
    long double value = reduced.quadrant % 2 == 0 ? sin_reduced(reduced.r) : cos_reduced(reduced.r);
    return reduced.quadrant >= 2 ? -value : value;
}

long double cos_kernel(long double x) {
    if (!is_finite(x)) return x - x;
    Reduced reduced = reduce_half_pi(x);
    long double value = reduced.quadrant % 2 == 0 ? cos_reduced(reduced.r) : sin_reduced(reduced.r);
    return reduced.quadrant == 1 || reduced.quadrant == 2 ? -value : value;
}

long double tan_kernel(long double x) {
    if (!is_finite(x)) return x - x;
    Reduced reduced = reduce_half_pi(x);
    long double s = sin_reduced(reduced.r);
    long double c = cos_reduced(reduced.r);
    return reduced.quadrant % 2 == 0 ? s / c : -c / s;
}

}  // namespace

// sin(pi x): x mod 2 is exact, and so is each fold towards [-1/4, 1/4].
long double sin_pi(long double x) {
    long double y = x - 2.0L * round_by_fpu(x * 0.5L);  // [-1, 1]
    if (y > 0.5L) y = 1.0L - y;
    else if (y < -0.5L) y = -1.0L - y;
    if (absolute(y) <= 0.25L) return sin_reduced(kPi * y);
    long double c = cos_reduced(kPi * (0.5L - absolute(y)));
    return y < 0.0L ? -c : c;
}

}  // namespace kivm

KIVM_UNARY(sin, kivm::sin_kernel)
KIVM_UNARY(cos, kivm::cos_kernel)
KIVM_UNARY(tan, kivm::tan_kernel)
