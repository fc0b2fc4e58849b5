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

// Taylor series of log Gamma about its zeros at 1 and 2, coefficients of
// e, e^2, ...: -gamma, then (-1)^k zeta(k) / k; 1 - gamma, then
// (-1)^k (zeta(k) - 1) / k. For |e| <= 0.2 the last terms are below 2^-70.
constexpr long double kNearRoot = 0.2L;
constexpr long double kLogGammaNearOne[] = {
    -0.5772156649015328606065L,  0.8224670334241132182362L,  -0.4006856343865314284666L,  0.270580808427784547879L,
    -0.2073855510286739852663L,  0.1695571769974081899524L,  -0.14404989676884611812L,    0.1255096695247430424223L,
    -0.1113342658695646904909L,  0.1000994575127818085337L,  -0.09095401714582904223261L, 0.08335384054610900402489L,
    -0.07693251641135219147283L, 0.07143294629536133605923L, -0.0666687058824204680329L,  0.06250095514121304074198L,
    -0.05882397865868458233896L, 0.05555576762740361110221L, -0.05263167937961666073363L, 0.05000004769810169363981L,
    -0.04761907033014222799078L, 0.04545455629320466944241L, -0.04347826605304025936135L, 0.04166666915034121046914L,
    -0.04000000119214014058609L, 0.03846153903467518570635L, -0.03703703731298932554946L, 0.03571428584733335802816L,
    -0.03448275868491930081079L, 0.03333333336437758108066L,
};
constexpr long double kLogGammaNearTwo[] = {
    0.4227843350984671393935L,        0.3224670334241132182362L,        -0.06735230105319809513325L,
    0.020580808427784547879L,         -0.007385551028673985266273L,     0.002890510330741523285753L,
    -0.001192753911703260977114L,     0.0005096695247430424223357L,     -0.0002231547584535793797614L,
    0.0000994575127818085337146L,     -0.00004492623673813314170021L,   0.00002050721277567069155317L,
    -0.000009439488275268395903987L,  0.000004374866789907487804182L,   -0.000002039215753801366236782L,
    0.0000009551412130407419832857L,  -0.0000004492469198764566043294L, 0.0000002120718480555466586923L,
    -0.0000001004322482396809960872L, 0.0000000476981016936398056576L,
};

// B(2k) / (2k (2k-1)), k = 1..10: the last term at z = 16 is below 2^-74.
constexpr long double kStirlingSeries[] = {
    1.0L / 12,        -1.0L / 360, 1.0L / 1260,       -1.0L / 1680,      1.0L / 1188,
    -691.0L / 360360, 1.0L / 156,  -3617.0L / 122400, 43867.0L / 244188, -174611.0L / 125400,
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

struct SignedLog {
    long double value;
    int sign;
};

SignedLog lgamma_kernel(long double x) {
    if (is_nan(x)) return {x, 1};
    if (is_inf(x)) return {infinity(), 1};
    if (x == 1.0L || x == 2.0L) return {0.0L, 1};  // +0, which the series would give as -0
    if (absolute(x - 1.0L) <= kNearRoot) return {(x - 1.0L) * horner(kLogGammaNearOne, x - 1.0L), 1};
    if (absolute(x - 2.0L) <= kNearRoot) return {(x - 2.0L) * horner(kLogGammaNearTwo, x - 2.0L), 1};
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

#define KIVM_LGAMMA(T, suffix)                           \
    extern "C" T lgamma##suffix(T x) {                   \
        kivm::FpuMode mode;                              \
        kivm::SignedLog result = kivm::lgamma_kernel(x); \
        signgam = result.sign;                           \
        return kivm::finish<T>(result.value, x);         \
    }

KIVM_LGAMMA(double, )
KIVM_LGAMMA(float, f)
KIVM_LGAMMA(long double, l)
