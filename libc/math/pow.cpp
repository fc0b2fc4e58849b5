// Powers and roots (C99 7.12.7): pow, sqrt, cbrt, hypot. pow is
// e^(y log x) with log x carried in two long doubles, so that y log x,
// up to 11357 in size, keeps 64 bits after its integer part.
#include "math.h"
#include "math/internal.h"
#include "math/log_parts.h"
#include "math/series.h"

namespace kivm {

namespace {

constexpr long double kTwoTo64 = 0x1p64L;
constexpr long double kExactProductLimit = 2.0L * kExpOverflow;

bool is_odd_integer(long double y) {
    return is_integer(y) && absolute(y) < kTwoTo64 && round_by_fpu(y * 0.5L) != y * 0.5L;
}

// log x as hi + lo, for finite positive x: s = (m-1)/(m+1) with the
// division's remainder kept.
Pair log_pair(long double x) {
    int exponent = 0;
    long double m = reduce_for_log(x, exponent);
    long double numerator = m - 1.0L;
    Pair denominator = two_sum(m, 1.0L);
    long double s = numerator / denominator.hi;
    Pair product = two_product(s, denominator.hi);
    long double s_low = (((numerator - product.hi) - product.lo) - s * denominator.lo) / denominator.hi;
    Pair head = two_sum(exponent * kLn2High, 2.0L * s);
    long double tail = head.lo + (exponent * kLn2Low + (2.0L * s_low + atanh_tail(s)));
    return two_sum(head.hi, tail);
}

// e^(hi + lo), |lo| tiny beside hi.
long double exp_pair(long double hi, long double lo) {
    if (hi > kExpOverflow) return infinity();
    if (hi < kExpUnderflow) return underflowed();
    long double k = round_by_fpu(hi * kLog2E);
    long double r = ((hi - k * kLn2High) - k * kLn2Low) + lo;
    return scale(exp_reduced(r), static_cast<long>(k));
}

// C99 F.9.4.4, case by case, for the arguments that are not finite
// numbers with a finite nonzero base; false for those.
bool pow_special(long double x, long double y, long double &result) {
    bool odd = is_odd_integer(y);
    if (y == 0.0L || x == 1.0L) result = 1.0L;
    else if (is_nan(x) || is_nan(y)) result = x + y;
    else if (x == 0.0L) result = with_sign(y < 0.0L ? infinity() : 0.0L, odd && sign_of(x));
    else if (is_inf(y)) result = absolute(x) == 1.0L ? 1.0L : (absolute(x) < 1.0L) == (y < 0.0L) ? infinity() : 0.0L;
    else if (is_inf(x)) result = with_sign(y < 0.0L ? 0.0L : infinity(), odd && x < 0.0L);
    else if (x < 0.0L && !is_integer(y)) result = quiet_nan();
    else if (x == -1.0L) result = odd ? -1.0L : 1.0L;
    else return false;
    return true;
}

}  // namespace

long double pow_kernel(long double x, long double y) {
    long double special;
    if (pow_special(x, y, special)) return special;
    Pair log_x = log_pair(absolute(x));
    long double estimate = y * log_x.hi;
    // Past the range the product needs no exactness (and could not split).
    Pair product = absolute(estimate) > kExactProductLimit ? Pair{estimate, 0.0L} : two_product(y, log_x.hi);
    long double magnitude = exp_pair(product.hi, product.lo + y * log_x.lo);
    return x < 0.0L && is_odd_integer(y) ? -magnitude : magnitude;
}

namespace {

// |x| = m 2^(3q + r), 0.5 <= m < 1, 0 <= r < 3: the root of m 2^r from
// e^(log / 3) and one Newton step on y^3 = m 2^r, times 2^q.
long double cbrt_kernel(long double x) {
    if (x == 0.0L || !is_finite(x)) return x;
    int exponent = 0;
    long double m = absolute(split_exponent(x, exponent));
    int q = exponent >= 0 ? exponent / 3 : -((2 - exponent) / 3);
    long double a = scale(m, exponent - 3 * q);
    long double y = exp_pair(log_pair(a).hi / 3.0L, 0.0L);
    y = y - (y * y * y - a) / (3.0L * y * y);
    return with_sign(scale(y, q), sign_of(x));
}

// Scaled by a power of two first, so that the squares of long doubles
// stay in range.
long double hypot_kernel(long double x, long double y) {
    if (is_inf(x) || is_inf(y)) return infinity();
    if (is_nan(x) || is_nan(y)) return x + y;
    long double a = absolute(x);
    long double b = absolute(y);
    long double larger = a > b ? a : b;
    if (larger == 0.0L) return 0.0L;
    int exponent = 0;
    split_exponent(larger, exponent);
    a = scale(a, -exponent);
    b = scale(b, -exponent);
    return scale(root_by_fpu(a * a + b * b), exponent);
}

}  // namespace

}  // namespace kivm

KIVM_BINARY(pow, kivm::pow_kernel)
KIVM_UNARY(cbrt, kivm::cbrt_kernel)
KIVM_BINARY(hypot, kivm::hypot_kernel)

// The FPU's square root, rounded once to the result's own precision.
#define KIVM_SQRT(T, suffix)                             \
    extern "C" T sqrt##suffix(T x) {                     \
        kivm::FpuMode mode(kivm::kPrecisionOf<T>);       \
        return kivm::finish<T>(kivm::root_by_fpu(x), x); \
    }

KIVM_SQRT(double, )
KIVM_SQRT(float, f)
KIVM_SQRT(long double, l)
