// The error functions (C99 7.12.8). Near zero, erf from its series
// erf a = 2/sqrt(pi) e^(-a^2) sum 2^n a^(2n+1) / (1 3 5 ... (2n+1)), whose
// terms are all positive; further out, erfc from its continued fraction
// (Laplace's), evaluated from a fixed depth backwards. Each is the
// complement of the other where it is the smaller.
#include "math.h"
#include "math/internal.h"
#include "math/series.h"

namespace kivm {

namespace {

// Where the continued fraction takes over, and its depth: at a = 1 the
// fraction's error after 400 levels is below 2^-78.
constexpr long double kFractionFrom = 1.0L;
constexpr int kFractionDepth = 400;
constexpr int kSeriesLimit = 200;
// Past this erfc underflows every long double and erf is 1.
constexpr long double kErfcVanishes = 107.0L;
constexpr long double kTwoOverSqrtPi = 1.12837916709551257389615890312154517L;

// e^(-a^2), with a^2 carried exactly in two parts.
long double gauss(long double a) {
    Pair square = two_product(a, a);
    return exp_kernel(-square.hi) * exp_kernel(-square.lo);
}

// 0 <= a < kFractionFrom.
long double erf_series(long double a) {
    long double a2 = a * a;
    long double term = a;
    long double sum = a;
    for (int n = 1; n < kSeriesLimit && term > sum * 0x1p-66L; n++) {
        term = term * 2.0L * a2 / (2 * n + 1);
        sum += term;
    }
    return kTwoOverSqrtPi * gauss(a) * sum;
}

// a >= kFractionFrom: erfc a = e^(-a^2)/sqrt(pi) / (a + 1/2 / (a + 1 / (a + 3/2 / (a + ...)))).
long double erfc_fraction(long double a) {
    if (is_inf(a)) return 0.0L;
    if (a > kErfcVanishes) return underflowed();
    long double tail = a;
    for (int n = kFractionDepth; n >= 1; n--) tail = a + (n * 0.5L) / tail;
    return gauss(a) / (kSqrtPi * tail);
}

long double erf_kernel(long double x) {
    if (is_nan(x) || x == 0.0L) return x;
    long double a = absolute(x);
    long double magnitude = a < kFractionFrom ? erf_series(a) : 1.0L - erfc_fraction(a);
    return with_sign(magnitude, sign_of(x));
}

long double erfc_kernel(long double x) {
    if (is_nan(x)) return x;
    long double a = absolute(x);
    if (a < kFractionFrom) return 1.0L - (sign_of(x) ? -erf_series(a) : erf_series(a));
    long double upper = erfc_fraction(a);
    return sign_of(x) ? 2.0L - upper : upper;
}

}  // namespace

}  // namespace kivm

KIVM_UNARY(erf, kivm::erf_kernel)
KIVM_UNARY(erfc, kivm::erfc_kernel)
