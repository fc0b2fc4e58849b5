// Hyperbolic functions and their inverses (C99 7.12.5), from expm1, exp,
// log and log1p in forms that keep small arguments exact.
#include "math.h"
#include "math/internal.h"

namespace kivm {

namespace {

// Past this e^x no longer fits in a long double; e^(x - ln2) still does.
constexpr long double kExpLimit = 11355.0L;
// Below this sinh, tanh, asinh and atanh are x to 64 bits.
constexpr long double kNegligible = 0x1p-33L;
// Past this tanh is 1 to 64 bits.
constexpr long double kTanhSaturates = 23.0L;
// Past this sqrt(x^2 + 1) is x to 64 bits.
constexpr long double kSquareNegligible = 0x1p33L;

long double half_exp(long double a) { return exp_kernel(a - kLn2); }

long double sinh_kernel(long double x) {
    if (!is_finite(x) || absolute(x) < kNegligible) return x;
    long double a = absolute(x);
    long double magnitude;
    if (a > kExpLimit) {
        magnitude = half_exp(a);
    } else {
        long double e = expm1_kernel(a);
        magnitude = 0.5L * (e + e / (e + 1.0L));
    }
    return with_sign(magnitude, sign_of(x));
}

long double cosh_kernel(long double x) {
    if (is_nan(x)) return x;
    long double a = absolute(x);
    if (a > kExpLimit) return half_exp(a);
    long double e = exp_kernel(a);
    return 0.5L * (e + 1.0L / e);
}

long double tanh_kernel(long double x) {
    if (is_nan(x) || absolute(x) < kNegligible) return x;
    long double a = absolute(x);
    if (a > kTanhSaturates) return with_sign(1.0L, sign_of(x));
    long double e = expm1_kernel(2.0L * a);
    return with_sign(e / (e + 2.0L), sign_of(x));
}

long double asinh_kernel(long double x) {
    if (!is_finite(x) || absolute(x) < kNegligible) return x;
    long double a = absolute(x);
    long double magnitude = a > kSquareNegligible ? log_kernel(a) + kLn2
                                                  : log1p_kernel(a + a * a / (1.0L + root_by_fpu(1.0L + a * a)));
    return with_sign(magnitude, sign_of(x));
}

long double acosh_kernel(long double x) {
    if (is_nan(x)) return x;
    if (x < 1.0L) return quiet_nan();
    if (x > kSquareNegligible) return log_kernel(x) + kLn2;
    long double t = x - 1.0L;
    return log1p_kernel(t + root_by_fpu(2.0L * t + t * t));
}

long double atanh_kernel(long double x) {
    if (is_nan(x)) return x;
    long double a = absolute(x);
    if (a > 1.0L) return quiet_nan();
    if (a == 1.0L) return with_sign(infinity(), sign_of(x));
    if (a < kNegligible) return x;
    return with_sign(0.5L * log1p_kernel(2.0L * a / (1.0L - a)), sign_of(x));
}

}  // namespace

}  // namespace kivm

KIVM_UNARY(sinh, kivm::sinh_kernel)
KIVM_UNARY(cosh, kivm::cosh_kernel)
KIVM_UNARY(tanh, kivm::tanh_kernel)
KIVM_UNARY(asinh, kivm::asinh_kernel)
KIVM_UNARY(acosh, kivm::acosh_kernel)
KIVM_UNARY(atanh, kivm::atanh_kernel)
