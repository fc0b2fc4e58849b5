// The argument tables of the mathematical functions, shared by the guest
// program that evaluates them with the kit's libm (fx_math) and the host
// test that evaluates them with the host's glibc: both build the same
// arguments from the same generator, so only the results travel.
//
// Each function's table for each type: the edge values (zeros, subnormals,
// the extremes, infinities, NaN, and for two arguments every pair of
// them), then pseudo-random values spread over the whole exponent range,
// then pseudo-random values in the function's interesting interval.
#pragma once

#include <math.h>
#include <stdint.h>

namespace kiv_math_table {

// The C99 call shapes, each with its double, float and long double member.
template <typename T> struct Signatures {
    using Unary = T (*)(T);
    using Binary = T (*)(T, T);
};

struct Interval {
    double low;
    double high;
};

struct MathFunction {
    const char *name;
    Signatures<double>::Unary d1;
    Signatures<double>::Binary d2;
    Signatures<float>::Unary f1;
    Signatures<float>::Binary f2;
    Signatures<long double>::Unary l1;
    Signatures<long double>::Binary l2;
    Interval x;
    Interval y;
    unsigned count;      // arguments of double and float
    unsigned ulps;       // the largest distance from the host's results allowed, double and float
    unsigned long_ulps;  // the same for long double
    bool binary() const { return d2 != nullptr; }
};

// Arguments of long double functions: a slice of each table.
constexpr unsigned kLongDoubleCount = 600;
// The bar for the functions the library promises within 1 ulp.
constexpr unsigned kFullCount = 10000;
constexpr unsigned kSpotCount = 1000;

// Calls whose result is not simply T from T: wrapped into one of the two
// shapes. Integer arguments come from the table as values in their range.
template <typename T> int as_exponent(T y) {
    if (!(y == y)) return 0;
    if (y > 100000) return 100000;
    if (y < -100000) return -100000;
    return static_cast<int>(y);
}

template <typename T> T frexp_of(T x);
template <> inline double frexp_of(double x) {
    int e;
    return frexp(x, &e);
}
template <> inline float frexp_of(float x) {
    int e;
    return frexpf(x, &e);
}
template <> inline long double frexp_of(long double x) {
    int e;
    return frexpl(x, &e);
}
template <typename T> T frexp_exponent(T x);
template <> inline double frexp_exponent(double x) {
    int e = 0;
    frexp(x, &e);
    return e;
}
template <> inline float frexp_exponent(float x) {
    int e = 0;
    frexpf(x, &e);
    return static_cast<float>(e);
}
template <> inline long double frexp_exponent(long double x) {
    int e = 0;
    frexpl(x, &e);
    return e;
}
template <typename T> T modf_fraction(T x);
template <> inline double modf_fraction(double x) {
    double w;
    return modf(x, &w);
}
template <> inline float modf_fraction(float x) {
    float w;
    return modff(x, &w);
}
template <> inline long double modf_fraction(long double x) {
    long double w;
    return modfl(x, &w);
}
template <typename T> T modf_whole(T x);
template <> inline double modf_whole(double x) {
    double w = 0;
    modf(x, &w);
    return w;
}
template <> inline float modf_whole(float x) {
    float w = 0;
    modff(x, &w);
    return w;
}
template <> inline long double modf_whole(long double x) {
    long double w = 0;
    modfl(x, &w);
    return w;
}
template <typename T> T remquo_quotient(T x, T y);
template <> inline double remquo_quotient(double x, double y) {
    int q = 0;
    remquo(x, y, &q);
    return q % 8;
}
template <> inline float remquo_quotient(float x, float y) {
    int q = 0;
    remquof(x, y, &q);
    return static_cast<float>(q % 8);
}
template <> inline long double remquo_quotient(long double x, long double y) {
    int q = 0;
    remquol(x, y, &q);
    return q % 8;
}
template <typename T> T lgamma_sign(T x);
template <> inline double lgamma_sign(double x) {
    lgamma(x);
    return signgam;
}
template <> inline float lgamma_sign(float x) {
    lgammaf(x);
    return static_cast<float>(signgam);
}
template <> inline long double lgamma_sign(long double x) {
    lgammal(x);
    return signgam;
}

// Integer results, kept where the conversion is defined.
template <typename T> T in_long_range(T x) { return x > -2147483648.0L && x < 2147483647.0L ? x : 0; }

#define KIV_MATH_UNARY(name) #name, name, nullptr, name##f, nullptr, name##l, nullptr
#define KIV_MATH_BINARY(name) #name, nullptr, name, nullptr, name##f, nullptr, name##l
#define KIV_MATH_WRAPPED_UNARY(label, wrapper) \
    label, wrapper<double>, nullptr, wrapper<float>, nullptr, wrapper<long double>, nullptr
#define KIV_MATH_WRAPPED_BINARY(label, wrapper) \
    label, nullptr, wrapper<double>, nullptr, wrapper<float>, nullptr, wrapper<long double>

template <typename T> T ldexp_of(T x, T y) { return ldexp(x, as_exponent(y)); }
template <> inline float ldexp_of(float x, float y) { return ldexpf(x, as_exponent(y)); }
template <> inline long double ldexp_of(long double x, long double y) { return ldexpl(x, as_exponent(y)); }
template <typename T> T scalbln_of(T x, T y) { return scalbln(x, as_exponent(y)); }
template <> inline float scalbln_of(float x, float y) { return scalblnf(x, as_exponent(y)); }
template <> inline long double scalbln_of(long double x, long double y) { return scalblnl(x, as_exponent(y)); }
template <typename T> T ilogb_of(T x) { return static_cast<T>(ilogb(x)); }
template <> inline float ilogb_of(float x) { return static_cast<float>(ilogbf(x)); }
template <> inline long double ilogb_of(long double x) { return ilogbl(x); }
template <typename T> T lrint_of(T x) { return static_cast<T>(lrint(in_long_range(x))); }
template <> inline float lrint_of(float x) { return static_cast<float>(lrintf(in_long_range(x))); }
template <> inline long double lrint_of(long double x) { return lrintl(in_long_range(x)); }
template <typename T> T lround_of(T x) { return static_cast<T>(lround(in_long_range(x))); }
template <> inline float lround_of(float x) { return static_cast<float>(lroundf(in_long_range(x))); }
template <> inline long double lround_of(long double x) { return lroundl(in_long_range(x)); }
template <typename T> T llrint_of(T x) { return static_cast<T>(llrint(in_long_range(x))); }
template <> inline float llrint_of(float x) { return static_cast<float>(llrintf(in_long_range(x))); }
template <> inline long double llrint_of(long double x) { return static_cast<long double>(llrintl(in_long_range(x))); }
template <typename T> T llround_of(T x) { return static_cast<T>(llround(in_long_range(x))); }
template <> inline float llround_of(float x) { return static_cast<float>(llroundf(in_long_range(x))); }
template <> inline long double llround_of(long double x) {
    return static_cast<long double>(llroundl(in_long_range(x)));
}
template <typename T> T nexttoward_of(T x, T y) { return nexttoward(x, static_cast<long double>(y)); }
template <> inline float nexttoward_of(float x, float y) { return nexttowardf(x, y); }
template <> inline long double nexttoward_of(long double x, long double y) { return nexttowardl(x, y); }
// The addend is one of the factors, so that no arithmetic of the caller's
// rounds it: x y - x cancels where y is near 1.
template <typename T> T fma_of(T x, T y) { return fma(x, y, -x); }
template <> inline float fma_of(float x, float y) { return fmaf(x, y, y); }
template <> inline long double fma_of(long double x, long double y) { return fmal(x, y, -x); }

constexpr Interval kAny = {-1e6, 1e6};
constexpr Interval kUnit = {-1, 1};
constexpr Interval kNone = {0, 0};

// The functions the library promises within 1 ulp of the correctly rounded
// result first, each on kFullCount arguments; then the rest of C99's set.
inline const MathFunction kFunctions[] = {
    {KIV_MATH_UNARY(fabs), kAny, kNone, kFullCount, 0, 0},
    {KIV_MATH_UNARY(floor), {-1e5, 1e5}, kNone, kFullCount, 0, 0},
    {KIV_MATH_UNARY(ceil), {-1e5, 1e5}, kNone, kFullCount, 0, 0},
    {KIV_MATH_UNARY(trunc), {-1e5, 1e5}, kNone, kFullCount, 0, 0},
    {KIV_MATH_UNARY(round), {-100, 100}, kNone, kFullCount, 0, 0},
    {KIV_MATH_BINARY(fmod), {-1e4, 1e4}, {-30, 30}, kFullCount, 0, 0},
    {KIV_MATH_UNARY(sqrt), {0, 1e4}, kNone, kFullCount, 0, 0},
    {KIV_MATH_BINARY(pow), {0, 30}, {-60, 60}, kFullCount, 1, 10},
    {KIV_MATH_UNARY(exp), {-750, 710}, kNone, kFullCount, 1, 1},
    {KIV_MATH_UNARY(log), {0, 1000}, kNone, kFullCount, 1, 1},
    {KIV_MATH_UNARY(log10), {0, 1000}, kNone, kFullCount, 1, 1},
    {KIV_MATH_UNARY(log2), {0, 1000}, kNone, kFullCount, 1, 1},
    {KIV_MATH_UNARY(sin), {-40, 40}, kNone, kFullCount, 1, 2},
    {KIV_MATH_UNARY(cos), {-40, 40}, kNone, kFullCount, 1, 2},
    {KIV_MATH_UNARY(tan), {-40, 40}, kNone, kFullCount, 1, 3},
    {KIV_MATH_UNARY(asin), kUnit, kNone, kFullCount, 1, 3},
    {KIV_MATH_UNARY(acos), kUnit, kNone, kFullCount, 1, 2},
    {KIV_MATH_UNARY(atan), {-20, 20}, kNone, kFullCount, 1, 2},
    {KIV_MATH_BINARY(atan2), {-10, 10}, {-10, 10}, kFullCount, 1, 2},
    {KIV_MATH_UNARY(sinh), {-30, 30}, kNone, kFullCount, 1, 2},
    {KIV_MATH_UNARY(cosh), {-30, 30}, kNone, kFullCount, 1, 1},
    {KIV_MATH_UNARY(tanh), {-10, 10}, kNone, kFullCount, 1, 2},
    {KIV_MATH_WRAPPED_UNARY("frexp", frexp_of), kAny, kNone, kFullCount, 0, 0},
    {KIV_MATH_WRAPPED_UNARY("frexp_exponent", frexp_exponent), kAny, kNone, kFullCount, 0, 0},
    {KIV_MATH_WRAPPED_BINARY("ldexp", ldexp_of), kAny, {-1100, 1100}, kFullCount, 0, 0},
    {KIV_MATH_WRAPPED_UNARY("modf", modf_fraction), {-1e4, 1e4}, kNone, kFullCount, 0, 0},
    {KIV_MATH_WRAPPED_UNARY("modf_whole", modf_whole), {-1e4, 1e4}, kNone, kFullCount, 0, 0},
    {KIV_MATH_BINARY(hypot), {-1e3, 1e3}, {-1e3, 1e3}, kFullCount, 1, 1},
    {KIV_MATH_UNARY(acosh), {1, 100}, kNone, kSpotCount, 1, 1},
    {KIV_MATH_UNARY(asinh), {-100, 100}, kNone, kSpotCount, 1, 1},
    {KIV_MATH_UNARY(atanh), kUnit, kNone, kSpotCount, 1, 3},
    {KIV_MATH_UNARY(cbrt), {-1e3, 1e3}, kNone, kSpotCount, 1, 1},
    {KIV_MATH_BINARY(copysign), kAny, kAny, kSpotCount, 0, 0},
    {KIV_MATH_UNARY(erf), {-6, 6}, kNone, kSpotCount, 1, 3},
    {KIV_MATH_UNARY(erfc), {-6, 28}, kNone, kSpotCount, 1, 3},
    {KIV_MATH_UNARY(exp2), {-1080, 1030}, kNone, kSpotCount, 1, 1},
    {KIV_MATH_UNARY(expm1), {-40, 710}, kNone, kSpotCount, 1, 1},
    {KIV_MATH_BINARY(fdim), kAny, kAny, kSpotCount, 0, 0},
    {KIV_MATH_WRAPPED_BINARY("fma", fma_of), kAny, kAny, kSpotCount, 0, 1},
    {KIV_MATH_BINARY(fmax), kAny, kAny, kSpotCount, 0, 0},
    {KIV_MATH_BINARY(fmin), kAny, kAny, kSpotCount, 0, 0},
    {KIV_MATH_WRAPPED_UNARY("ilogb", ilogb_of), kAny, kNone, kSpotCount, 0, 0},
    {KIV_MATH_UNARY(lgamma), {-20, 40}, kNone, kSpotCount, 3, 298},
    {KIV_MATH_WRAPPED_UNARY("lgamma_sign", lgamma_sign), {-20, 40}, kNone, kSpotCount, 0, 0},
    {KIV_MATH_UNARY(log1p), {-1, 100}, kNone, kSpotCount, 1, 1},
    {KIV_MATH_UNARY(logb), kAny, kNone, kSpotCount, 0, 0},
    {KIV_MATH_WRAPPED_UNARY("lrint", lrint_of), {-1e4, 1e4}, kNone, kSpotCount, 0, 0},
    {KIV_MATH_WRAPPED_UNARY("llrint", llrint_of), {-1e4, 1e4}, kNone, kSpotCount, 0, 0},
    {KIV_MATH_WRAPPED_UNARY("lround", lround_of), {-1e4, 1e4}, kNone, kSpotCount, 0, 0},
    {KIV_MATH_WRAPPED_UNARY("llround", llround_of), {-1e4, 1e4}, kNone, kSpotCount, 0, 0},
    {KIV_MATH_UNARY(nearbyint), {-1e4, 1e4}, kNone, kSpotCount, 0, 0},
    {KIV_MATH_BINARY(nextafter), kAny, kAny, kSpotCount, 0, 0},
    {KIV_MATH_WRAPPED_BINARY("nexttoward", nexttoward_of), kAny, kAny, kSpotCount, 0, 0},
    {KIV_MATH_BINARY(remainder), {-1e4, 1e4}, {-30, 30}, kSpotCount, 0, 0},
    {KIV_MATH_WRAPPED_BINARY("remquo_quotient", remquo_quotient), {-1e4, 1e4}, {-30, 30}, kSpotCount, 0, 0},
    {KIV_MATH_UNARY(rint), {-1e4, 1e4}, kNone, kSpotCount, 0, 0},
    {KIV_MATH_WRAPPED_BINARY("scalbln", scalbln_of), kAny, {-1100, 1100}, kSpotCount, 0, 0},
    {KIV_MATH_UNARY(tgamma), {-20, 30}, kNone, kSpotCount, 3, 29},
};

constexpr unsigned kFunctionCount = sizeof kFunctions / sizeof kFunctions[0];

// splitmix64: the same sequence on every machine.
class Generator {
public:
    explicit Generator(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // [0, 1) with 53 random bits.
    double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }

private:
    uint64_t state_;
};

// Any finite value of T, or an infinity: random sign, exponent and
// significand bits.
template <typename T> T spread(Generator &g);
template <> inline double spread(Generator &g) {
    uint64_t bits = g.next();
    if ((bits >> 52 & 0x7ff) == 0x7ff) bits &= ~(1ull << 62);  // no NaN
    double x;
    __builtin_memcpy(&x, &bits, sizeof x);
    return x;
}
template <> inline float spread(Generator &g) {
    uint32_t bits = static_cast<uint32_t>(g.next());
    if ((bits >> 23 & 0xff) == 0xff) bits &= ~(1u << 30);
    float x;
    __builtin_memcpy(&x, &bits, sizeof x);
    return x;
}
template <> inline long double spread(Generator &g) {
    // A double's spread, with the eleven significand bits a double lacks.
    double d = spread<double>(g);
    return d + d * (static_cast<long double>(g.next() & 0x7ff) * 0x1p-64L);
}

template <typename T> struct Edges {
    static constexpr unsigned kCount = 21;
    T values[kCount];
    Edges() {
        const T positive[] = {static_cast<T>(0.0),
                              denorm_min(),
                              static_cast<T>(denorm_min() * 12345),
                              min_normal(),
                              static_cast<T>(0.5),
                              static_cast<T>(1.0),
                              static_cast<T>(2.0),
                              static_cast<T>(3.0),
                              max_value(),
                              static_cast<T>(__builtin_inf())};
        for (unsigned i = 0; i < 10; i++) {
            values[2 * i] = positive[i];
            values[2 * i + 1] = -positive[i];
        }
        values[kCount - 1] = static_cast<T>(__builtin_nan(""));
    }
    static T denorm_min();
    static T min_normal();
    static T max_value();
};
template <> inline double Edges<double>::denorm_min() { return __DBL_DENORM_MIN__; }
template <> inline double Edges<double>::min_normal() { return __DBL_MIN__; }
template <> inline double Edges<double>::max_value() { return __DBL_MAX__; }
template <> inline float Edges<float>::denorm_min() { return __FLT_DENORM_MIN__; }
template <> inline float Edges<float>::min_normal() { return __FLT_MIN__; }
template <> inline float Edges<float>::max_value() { return __FLT_MAX__; }
template <> inline long double Edges<long double>::denorm_min() { return __LDBL_DENORM_MIN__; }
template <> inline long double Edges<long double>::min_normal() { return __LDBL_MIN__; }
template <> inline long double Edges<long double>::max_value() { return __LDBL_MAX__; }

template <typename T> struct Arguments {
    T x;
    T y;
};

// The arguments of `function` for T, one call after another.
template <typename T> class Table {
public:
    Table(const MathFunction &function, unsigned function_index)
        : function_(function), generator_(0x6b69766d61746800ull + function_index) {}

    unsigned size() const { return sizeof(T) > sizeof(double) ? kLongDoubleCount : function_.count; }

    Arguments<T> at(unsigned i) {
        unsigned edges = function_.binary() ? Edges<T>::kCount * Edges<T>::kCount : Edges<T>::kCount;
        if (i < edges)
            return {edges_.values[i % Edges<T>::kCount], edges_.values[i / Edges<T>::kCount % Edges<T>::kCount]};
        if (i % 2 == 0) return {spread<T>(generator_), spread<T>(generator_)};
        return {within(function_.x), within(function_.y)};
    }

private:
    // In long double, x87 arithmetic on both sides, rounded once through
    // memory: the guest's and the host's compilers then agree on the value.
    T within(Interval interval) {
        long double width = static_cast<long double>(interval.high) - interval.low;
        volatile long double value = interval.low + width * generator_.unit();
        volatile T narrowed = static_cast<T>(value);
        return narrowed;
    }

    const MathFunction &function_;
    Generator generator_;
    Edges<T> edges_;
};

// The call itself.
template <typename T> T evaluate(const MathFunction &function, Arguments<T> a);
template <> inline double evaluate(const MathFunction &f, Arguments<double> a) {
    return f.binary() ? f.d2(a.x, a.y) : f.d1(a.x);
}
template <> inline float evaluate(const MathFunction &f, Arguments<float> a) {
    return f.binary() ? f.f2(a.x, a.y) : f.f1(a.x);
}
template <> inline long double evaluate(const MathFunction &f, Arguments<long double> a) {
    return f.binary() ? f.l2(a.x, a.y) : f.l1(a.x);
}

// The bytes of a result that carry its value.
template <typename T> constexpr unsigned kValueBytes = sizeof(T);
template <> constexpr unsigned kValueBytes<long double> = 10;

}  // namespace kiv_math_table
