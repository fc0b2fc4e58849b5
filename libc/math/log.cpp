// Logarithms (C99 7.12.6): log, log2, log10 and log1p. x = 2^e m with
// sqrt(1/2) <= m < sqrt(2); log m = 2 atanh(s), s = (m-1)/(m+1), from the
// odd series of atanh, which |s| <= 0.172 makes short.
#include "math.h"
#include "math/internal.h"
#include "math/log_parts.h"
#include "math/series.h"

namespace kivm {

namespace {

constexpr long double kSqrtHalf = 0.707106781186547524400844362104849039L;
// Below this log1p(x) is x to 64 bits.
constexpr long double kNegligible = 0x1p-65L;
// Where log1p stops reading its argument through 1 + x.
constexpr long double kLog1pDirect = 0.25L;

// 1, 1/3, 1/5, ...: s^27 < 2^-64 s for |s| <= 0.172.
struct OddReciprocals {
    long double c[14];
    constexpr OddReciprocals() : c() {
        for (int i = 0; i < 14; i++) c[i] = 1.0L / (2 * i + 1);
    }
};
constexpr OddReciprocals kAtanhSeries;

// NaN, infinities, zero and negative numbers; true when `x` was one.
bool log_special(long double x, long double &result) {
    if (is_nan(x)) result = x;
    else if (x < 0.0L) result = quiet_nan();
    else if (x == 0.0L) result = -infinity();
    else if (is_inf(x)) result = x;
    else return false;
    return true;
}

}  // namespace

// (s^2/3 + s^4/5 + ...) * 2s, the part of 2 atanh(s) past its first term.
long double atanh_tail(long double s) {
    long double s2 = s * s;
    long double odd = horner(kAtanhSeries.c, s2) - 1.0L;
    return 2.0L * s * odd;
}

long double reduce_for_log(long double x, int &exponent) {
    long double m = absolute(split_exponent(x, exponent));
    if (m >= kSqrtHalf) return m;
    exponent--;
    return m + m;
}

LogParts log_parts(long double x) {
    int exponent = 0;
    long double m = reduce_for_log(x, exponent);
    long double s = (m - 1.0L) / (m + 1.0L);
    return {exponent, 2.0L * s + atanh_tail(s)};
}

long double log_kernel(long double x) {
    long double special;
    if (log_special(x, special)) return special;
    LogParts parts = log_parts(x);
    return parts.exponent * kLn2High + (parts.exponent * kLn2Low + parts.log_m);
}

long double log2_kernel(long double x) {
    long double special;
    if (log_special(x, special)) return special;
    LogParts parts = log_parts(x);
    return parts.exponent + parts.log_m * kLog2E;
}

long double log10_kernel(long double x) {
    long double special;
    if (log_special(x, special)) return special;
    LogParts parts = log_parts(x);
    return parts.exponent * kLog10Of2 + parts.log_m / kLn10;
}

long double log1p_kernel(long double x) {
    if (is_nan(x) || absolute(x) > kLog1pDirect) return log_kernel(1.0L + x);
    if (absolute(x) < kNegligible) return x;
    long double s = x / (2.0L + x);
    return 2.0L * s + atanh_tail(s);
}

}  // namespace kivm

KIVM_UNARY(log, kivm::log_kernel)
KIVM_UNARY(log2, kivm::log2_kernel)
KIVM_UNARY(log10, kivm::log10_kernel)
KIVM_UNARY(log1p, kivm::log1p_kernel)
