// Power series evaluated in extended precision, and the error-free
// transformations that carry a value in two long doubles where 64 bits are
// not enough (pow's logarithm, fma).
#pragma once

#include <stddef.h>

namespace kivm {

// c[0] + c[1] t + c[2] t^2 + ..., by Horner's rule.
template <size_t N> long double horner(const long double (&c)[N], long double t) {
    long double sum = c[N - 1];
    for (size_t i = N - 1; i-- > 0;) sum = sum * t + c[i];
    return sum;
}

// 1/n!, each rounded once or twice at compile time.
constexpr long double inverse_factorial(int n) {
    long double factorial = 1.0L;
    for (int k = 2; k <= n; k++) factorial *= k;
    return 1.0L / factorial;
}

// {1/first!, 1/(first+step)!, ...}: a Taylor series' coefficients.
template <size_t N> struct FactorialSeries {
    long double c[N];
    constexpr FactorialSeries(int first, int step, bool alternate) : c() {
        for (size_t i = 0; i < N; i++) {
            long double term = inverse_factorial(first + static_cast<int>(i) * step);
            c[i] = alternate && i % 2 == 1 ? -term : term;
        }
    }
};

// hi + lo, the exact value of an operation (|lo| at most half an ulp of hi).
struct Pair {
    long double hi;
    long double lo;
};

inline Pair two_sum(long double a, long double b) {
    long double s = a + b;
    long double bb = s - a;
    long double err = (a - (s - bb)) + (b - bb);
    return {s, err};
}

// Veltkamp's split of a 64-bit significand into two halves of 32 bits.
inline Pair split_halves(long double a) {
    constexpr long double kSplitter = 4294967297.0L;  // 2^32 + 1
    long double t = kSplitter * a;
    long double hi = t - (t - a);
    return {hi, a - hi};
}

// Dekker's exact product, for operands whose product neither overflows
// nor underflows.
inline Pair two_product(long double a, long double b) {
    long double p = a * b;
    Pair x = split_halves(a);
    Pair y = split_halves(b);
    long double err = ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo;
    return {p, err};
}

}  // namespace kivm
