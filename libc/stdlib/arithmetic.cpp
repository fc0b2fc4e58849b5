// Quotient and remainder in one result, and the long long magnitude. The
// division truncates towards zero, as the processor's does.
#include "stdlib.h"

namespace {

template <typename Result, typename Integer> Result divide(Integer numerator, Integer denominator) {
    Result result;
    result.quot = numerator / denominator;
    result.rem = numerator % denominator;
    return result;
}

}  // namespace

extern "C" {

div_t div(int numerator, int denominator) { return divide<div_t>(numerator, denominator); }

ldiv_t ldiv(long numerator, long denominator) { return divide<ldiv_t>(numerator, denominator); }

lldiv_t lldiv(long long numerator, long long denominator) { return divide<lldiv_t>(numerator, denominator); }

// LLONG_MIN has no positive counterpart and stays itself.
long long llabs(long long v) { return v < 0 ? static_cast<long long>(0ull - static_cast<unsigned long long>(v)) : v; }

}  // extern "C"
