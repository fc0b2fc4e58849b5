// The gamma function and the logarithm of its magnitude (C99 7.12.8).
// Arguments below 16 are moved up by Gamma(z+1) = z Gamma(z), then
// Stirling's series; negative ones are reflected with
// Gamma(x) Gamma(1-x) = pi / sin(pi x).
#include "math.h"

#include "math/internal.h"
#include "math/series.h"

// The sign of Gamma at lgamma's last argument (POSIX).
extern "C" {
int signgam;
}

namespace kivm {

namespace {

constexpr long double kStirlingFrom = 16.0L;
// Below this Gamma(x) is 1/x to 64 bits.
constexpr long double kNearZero = 0x1p-70L;
// Past this Gamma overflows every long double; below its negative, it
// underflows.
constexpr long double kGammaOverflow = 1756.0L;
constexpr long double kSqrtTwoPi = 2.50662827463100050241576528481104525L;

// B(2k) / (2k (2k-1)), k = 1..10: the last term at z = 16 is below 2^-74.
constexpr long double kStirlingSeries[] = {
    1.0L / 12, -1.0L / 360, 1.0L / 1260, -1.0L / 1680, 1.0L / 1188, -691.0L / 360360, 1.0L / 156,
    -3617.0L / 122400, 43867.0L / 244188, -174611.0L / 125400,
};

// log Gamma(z) for z >= 16.
long double log_gamma_stirling(long double z) {
    long double inverse = 1.0L / z;
    long double correction = inverse * horner(kStirlingSeries, inverse * inverse);
    return (z - 0.5L) * log_kernel(z) - z + kHalfLn2Pi + correction;
}

// x > 0: log Gamma(x) = log Gamma(z) - log(x (x+1) ... (z-1)).
long double log_gamma_positive(long double x) {
    long double product = 1.0L;
    long double z = x;
    for (; z < kStirlingFrom; z += 1.0L) product *= z;
    return log_gamma_stirling(z) - log_kernel(product);
}

bool is_integer(long double x) { return round_by_fpu(x) == x; }

struct SignedLog {
    long double value;
    int sign;
};

SignedLog lgamma_kernel(long double x) {
    if (is_nan(x)) return {x, 1};
    if (is_inf(x)) return {infinity(), 1};
    if (x == 1.0L || x == 2.0L) return {0.0L, 1};
    if (x > 0.0L) return {log_gamma_positive(x), 1};
    if (x == 0.0L) return {infinity(), sign_of(x) ? -1 : 1};
    if (absolute(x) < kNearZero) return {-log_kernel(absolute(x)), sign_of(x) ? -1 : 1};
    if (is_integer(x)) return {infinity(), 1};
    long double s = sin_pi(x);
    long double value = log_kernel(kPi / absolute(x * s)) - log_gamma_positive(-x);
    return {value, s < 0.0L ? -1 : 1};
}

// Stirling's formula as a product, Gamma(z) = sqrt(2 pi) p (p e^-z) e^c
// with p = z^((z - 1/2) / 2): each factor is accurate in its own right,
// which e^(log Gamma) is not.
long double gamma_positive(long double x) {
    if (x > kGammaOverflow) return infinity();
    long double product = 1.0L;
    long double z = x;
    for (; z < kStirlingFrom; z += 1.0L) product *= z;
    long double inverse = 1.0L / z;
    long double correction = inverse * horner(kStirlingSeries, inverse * inverse);
    long double p = pow_kernel(z, (z - 0.5L) * 0.5L);
    return kSqrtTwoPi * p * (p * exp_kernel(-z)) * exp_kernel(correction) / product;
}

long double tgamma_kernel(long double x) {
    if (is_nan(x)) return x;
    if (x == 0.0L) return with_sign(infinity(), sign_of(x));
    if (x > 0.0L) return gamma_positive(x);
    if (is_inf(x) || is_integer(x)) return quiet_nan();
    if (absolute(x) < kNearZero) return 1.0L / x;
    if (x < -kGammaOverflow) return with_sign(underflowed(), sin_pi(x) < 0.0L);
    // Gamma(x) = pi / (sin(pi x) (-x) Gamma(-x)).
    return kPi / (sin_pi(x) * -x * gamma_positive(-x));
}

}  // namespace

}  // namespace kivm

KIVM_UNARY(tgamma, kivm::tgamma_kernel)

#define KIVM_LGAMMA(T, suffix)                                                                          \
    extern "C" T lgamma##suffix(T x) {                                                                  \
        kivm::FpuMode mode;                                                                             \
        kivm::SignedLog result = kivm::lgamma_kernel(x);                                                \
        signgam = result.sign;                                                                          \
        return kivm::finish<T>(result.value, x);                                                        \
    }

KIVM_LGAMMA(double, )
KIVM_LGAMMA(float, f)
KIVM_LGAMMA(long double, l)
