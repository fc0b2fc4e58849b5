// The mathematical library's internals. Every function is computed once, in
// x87 extended precision (64-bit significand, 15-bit exponent), by a kernel
// on long double; the double and float functions round the kernel's result
// once. Every double and float is exact, and normal, as a long double, and
// the extended range holds every double result before it overflows, so the
// kernels need no separate paths for subnormal inputs or for intermediate
// overflow.
#pragma once

#include <stdint.h>

#include "errno.h"

namespace kivm {

// A long double's bytes: the significand with its explicit integer bit,
// then the sign and biased exponent.
struct Extended {
    uint64_t significand;
    uint16_t sign_exponent;
};
static_assert(sizeof(long double) == 12 && __LDBL_MANT_DIG__ == 64, "x87 extended long double");
static_assert(__builtin_offsetof(Extended, sign_exponent) == 8, "the exponent follows the significand");

constexpr int kExponentBias = 16383;
constexpr uint16_t kExponentMask = 0x7fff;
constexpr uint16_t kSignBit = 0x8000;
constexpr int kSignificandBits = 64;

inline Extended bits_of(long double x) {
    Extended e;
    __builtin_memcpy(&e, &x, sizeof e);
    return e;
}

inline long double from_bits(Extended e) {
    long double x = 0.0L;
    __builtin_memcpy(&x, &e, sizeof e);
    return x;
}

inline bool is_nan(long double x) { return x != x; }
inline bool is_inf(long double x) { return x == __builtin_infl() || x == -__builtin_infl(); }
inline bool is_finite(long double x) { return !is_nan(x) && !is_inf(x); }
inline bool sign_of(long double x) { return (bits_of(x).sign_exponent & kSignBit) != 0; }
inline long double absolute(long double x) { return sign_of(x) ? -x : x; }
inline long double with_sign(long double magnitude, bool negative) {
    Extended e = bits_of(magnitude);
    e.sign_exponent = static_cast<uint16_t>((e.sign_exponent & kExponentMask) | (negative ? kSignBit : 0));
    return from_bits(e);
}
inline long double infinity() { return __builtin_infl(); }
inline long double quiet_nan() { return __builtin_nanl(""); }

// x = m * 2^exponent with 0.5 <= |m| < 1, for finite nonzero x (subnormal
// long doubles too).
long double split_exponent(long double x, int &exponent);
// x * 2^n, rounded once.
long double scale(long double x, long n);

// The x87 control word: precision control in bits 8-9, rounding control
// in bits 10-11.
constexpr uint16_t kPrecisionMask = 0x0300;
constexpr uint16_t kRoundingMask = 0x0c00;
enum class Precision : uint16_t { Single = 0x0000, Double = 0x0200, Extended = 0x0300 };
enum class Rounding : uint16_t { Nearest = 0x0000, Down = 0x0400, Up = 0x0800, TowardZero = 0x0c00 };

inline uint16_t control_word() {
    uint16_t word;
    asm volatile("fnstcw %0" : "=m"(word));
    return word;
}
inline void set_control_word(uint16_t word) { asm volatile("fldcw %0" : : "m"(word)); }

// For its lifetime the FPU computes with the given precision and rounding,
// whatever the caller had set; the caller's control word comes back after.
class FpuMode {
public:
    explicit FpuMode(Precision precision = Precision::Extended, Rounding rounding = Rounding::Nearest)
        : saved_(control_word()) {
        set_control_word(static_cast<uint16_t>((saved_ & ~(kPrecisionMask | kRoundingMask)) |
                                               static_cast<uint16_t>(precision) | static_cast<uint16_t>(rounding)));
    }
    ~FpuMode() { set_control_word(saved_); }
    FpuMode(const FpuMode &) = delete;
    FpuMode &operator=(const FpuMode &) = delete;

private:
    uint16_t saved_;
};

// x rounded to an integer by the FPU's current rounding control. Volatile,
// as every use of the FPU's modes here: the compiler must neither move it
// across a change of the control word nor merge two of them.
inline long double round_by_fpu(long double x) {
    asm volatile("frndint" : "+t"(x));
    return x;
}

inline long double root_by_fpu(long double x) {
    asm volatile("fsqrt" : "+t"(x));
    return x;
}

inline bool is_integer(long double x) { return is_finite(x) && round_by_fpu(x) == x; }

// x, as the compiler must take it: arithmetic on it stays after the last
// change of the control word.
inline long double fpu_barrier(long double x) {
    asm volatile("" : "+t"(x));
    return x;
}

// A value rounded to T by a store: the compiler keeps x87 intermediates in
// extended precision, so only memory rounds.
template <typename T> inline T narrow(long double x) {
    volatile T stored = static_cast<T>(x);
    return stored;
}

template <typename T> constexpr long double kSmallestNormal = 0.0L;
template <> constexpr long double kSmallestNormal<float> = __FLT_MIN__;
template <> constexpr long double kSmallestNormal<double> = __DBL_MIN__;
template <> constexpr long double kSmallestNormal<long double> = __LDBL_MIN__;

template <typename T> constexpr long double kSmallestSubnormal = 0.0L;
template <> constexpr long double kSmallestSubnormal<float> = __FLT_DENORM_MIN__;
template <> constexpr long double kSmallestSubnormal<double> = __DBL_DENORM_MIN__;
template <> constexpr long double kSmallestSubnormal<long double> = __LDBL_DENORM_MIN__;

// The FPU precision that rounds an operation on T once, to T.
template <typename T> constexpr Precision kPrecisionOf = Precision::Extended;
template <> constexpr Precision kPrecisionOf<float> = Precision::Single;
template <> constexpr Precision kPrecisionOf<double> = Precision::Double;

// The public result: `exact` rounded to T, with errno set as C's Annex F
// and glibc have it: EDOM for a NaN made from numbers, ERANGE for an
// infinity made from finite numbers (overflow or a pole) and for a nonzero
// result that rounds into the subnormal range or to zero.
template <typename T, typename... Args> T finish(long double exact, Args... arguments) {
    T result = narrow<T>(exact);
    long double wide = result;
    if (is_nan(wide)) {
        if (!(is_nan(static_cast<long double>(arguments)) || ...)) errno = EDOM;
    } else if (is_inf(wide)) {
        if ((is_finite(static_cast<long double>(arguments)) && ...)) errno = ERANGE;
    } else if (absolute(wide) < kSmallestNormal<T> && exact != 0.0L && wide != exact) {
        errno = ERANGE;
    }
    return result;
}

// Constants, each split where a kernel needs more than 64 bits: the high
// part has few enough bits that its product with a small integer is exact.
constexpr long double kPi = 3.14159265358979323846264338327950288L;
constexpr long double kHalfPi = 1.57079632679489661923132169163975144L;
constexpr long double kQuarterPi = 0.785398163397448309615660845819875721L;
constexpr long double kLn2 = 0.693147180559945309417232121458176568L;
constexpr long double kLn2High = 0x1.62e42fefa39ep-1L;     // 41 bits
constexpr long double kLn2Low = 0xf35793c7673007e6p-113L;  // ln2 - kLn2High, to 64 bits
constexpr long double kLog2E = 1.44269504088896340735992468100189214L;
constexpr long double kLn10 = 2.30258509299404568401799145468436421L;
constexpr long double kLog10Of2 = 0.301029995663981195213738894724493027L;
constexpr long double kSqrtPi = 1.77245385090551602729816748334114518L;
constexpr long double kHalfLn2Pi = 0.918938533204672741780329736405617640L;

// The result of a kernel whose value lies below every long double: zero,
// with the range error that finish cannot see in it.
inline long double underflowed() {
    errno = ERANGE;
    return 0.0L;
}

// Beyond these e^x is infinite, or below the smallest long double.
constexpr long double kExpOverflow = 11357.3L;
constexpr long double kExpUnderflow = -11400.0L;

// Kernels on long double, for finite or special arguments alike.
long double exp_kernel(long double x);
long double expm1_kernel(long double x);
long double exp2_kernel(long double x);
long double log_kernel(long double x);
long double log1p_kernel(long double x);
long double log2_kernel(long double x);
long double log10_kernel(long double x);
long double pow_kernel(long double x, long double y);
long double atan_kernel(long double x);
long double atan2_kernel(long double y, long double x);

// sin and cos of r, |r| <= pi/4.
long double sin_reduced(long double r);
long double cos_reduced(long double r);
// x = (4k + quadrant) * pi/2 + r with |r| <= pi/4, for finite x.
struct Reduced {
    long double r;
    unsigned quadrant;
};
Reduced reduce_half_pi(long double x);
// sin(pi * x), exact in its argument reduction.
long double sin_pi(long double x);

}  // namespace kivm

// The three public functions of one kernel, each rounding its result once.
#define KIVM_UNARY(name, kernel)                        \
    extern "C" double name(double x) {                  \
        kivm::FpuMode mode;                             \
        return kivm::finish<double>(kernel(x), x);      \
    }                                                   \
    extern "C" float name##f(float x) {                 \
        kivm::FpuMode mode;                             \
        return kivm::finish<float>(kernel(x), x);       \
    }                                                   \
    extern "C" long double name##l(long double x) {     \
        kivm::FpuMode mode;                             \
        return kivm::finish<long double>(kernel(x), x); \
    }

#define KIVM_BINARY(name, kernel)                                  \
    extern "C" double name(double x, double y) {                   \
        kivm::FpuMode mode;                                        \
        return kivm::finish<double>(kernel(x, y), x, y);           \
    }                                                              \
    extern "C" float name##f(float x, float y) {                   \
        kivm::FpuMode mode;                                        \
        return kivm::finish<float>(kernel(x, y), x, y);            \
    }                                                              \
    extern "C" long double name##l(long double x, long double y) { \
        kivm::FpuMode mode;                                        \
        return kivm::finish<long double>(kernel(x, y), x, y);      \
    }
