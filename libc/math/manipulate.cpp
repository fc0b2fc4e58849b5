// Sign, neighbours, bigger and smaller, and the NaN maker (C99 7.12.7,
// 7.12.11, 7.12.12): fabs, copysign, nan, nextafter, nexttoward, fmax,
// fmin, fdim.
#include "math.h"
#include "math/internal.h"

namespace kivm {

namespace {

// The representation of T as an unsigned integer whose successor is the
// next value away from zero.
template <typename T> struct Bits;
template <> struct Bits<float> { using type = uint32_t; };
template <> struct Bits<double> { using type = uint64_t; };

template <typename T> T step_away(T x, bool away) {
    typename Bits<T>::type bits;
    __builtin_memcpy(&bits, &x, sizeof bits);
    bits = away ? bits + 1 : bits - 1;
    __builtin_memcpy(&x, &bits, sizeof bits);
    return x;
}

// The long double step carries into or out of the explicit integer bit.
template <> long double step_away(long double x, bool away) {
    Extended e = bits_of(x);
    constexpr uint64_t kIntegerBit = 1ull << 63;
    if (away) {
        if (++e.significand == 0) {
            e.significand = kIntegerBit;
            e.sign_exponent++;
        } else if (e.significand == kIntegerBit && (e.sign_exponent & kExponentMask) == 0) {
            e.sign_exponent++;  // the largest subnormal's successor is the smallest normal
        }
    } else {
        bool leaves_normal = e.significand == kIntegerBit && (e.sign_exponent & kExponentMask) != 0;
        if (leaves_normal && (e.sign_exponent & kExponentMask) > 1) {
            e.significand = ~0ull;
            e.sign_exponent--;
        } else {
            if (leaves_normal) e.sign_exponent--;
            e.significand--;
        }
    }
    return from_bits(e);
}

template <typename T> T next_toward(T x, long double toward) {
    long double wide = x;
    if (is_nan(wide) || is_nan(toward)) return static_cast<T>(wide + toward);
    if (wide == toward) return static_cast<T>(toward);
    if (x == 0) return static_cast<T>(with_sign(kSmallestSubnormal<T>, toward < 0));
    T next = step_away(x, (wide < toward) != (wide < 0));
    long double result = next;
    if (is_inf(result) || absolute(result) < kSmallestNormal<T>) errno = ERANGE;
    return next;
}

// C99's fmax and fmin: a NaN loses to a number. Between zeros of either
// sign the choice is glibc's on x86: the second argument, as x86's maxsd
// and minsd give it, except that fminl gives the first.
long double larger(long double x, long double y) {
    if (is_nan(x)) return y;
    if (is_nan(y)) return x;
    return x > y ? x : y;
}

template <typename T> long double smaller(long double x, long double y) {
    if (is_nan(x)) return y;
    if (is_nan(y)) return x;
    if constexpr (sizeof(T) > sizeof(double)) return x <= y ? x : y;
    return x < y ? x : y;
}

template <typename T> T positive_difference(T x, T y) {
    if (is_nan(x) || is_nan(y)) return static_cast<T>(static_cast<long double>(x) + y);
    if (!(x > y)) return 0;
    FpuMode mode(kPrecisionOf<T>);
    return finish<T>(fpu_barrier(fpu_barrier(x) - y), x, y);
}

template <typename T> T nan_from(const char *) { return static_cast<T>(quiet_nan()); }

}  // namespace

}  // namespace kivm

#define KIVM_MANIPULATION_FUNCTIONS(T, suffix)                                                                     \
    extern "C" T fabs##suffix(T x) { return static_cast<T>(kivm::absolute(x)); }                                   \
    extern "C" T copysign##suffix(T x, T sign) { return static_cast<T>(kivm::with_sign(x, kivm::sign_of(sign))); } \
    extern "C" T nan##suffix(const char *payload) { return kivm::nan_from<T>(payload); }                           \
    extern "C" T nextafter##suffix(T x, T toward) { return kivm::next_toward<T>(x, toward); }                      \
    extern "C" T nexttoward##suffix(T x, long double toward) { return kivm::next_toward<T>(x, toward); }           \
    extern "C" T fmax##suffix(T x, T y) { return static_cast<T>(kivm::larger(x, y)); }                             \
    extern "C" T fmin##suffix(T x, T y) { return static_cast<T>(kivm::smaller<T>(x, y)); }                         \
    extern "C" T fdim##suffix(T x, T y) { return kivm::positive_difference<T>(x, y); }

KIVM_MANIPULATION_FUNCTIONS(double, )
KIVM_MANIPULATION_FUNCTIONS(float, f)
KIVM_MANIPULATION_FUNCTIONS(long double, l)
