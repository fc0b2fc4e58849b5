// The shared front of the logarithms: x = 2^exponent m, and log m.
#pragma once

namespace kivm {

struct LogParts {
    int exponent;
    long double log_m;
};

// For finite positive x.
LogParts log_parts(long double x);
// x = 2^exponent m, sqrt(1/2) <= m < sqrt(2), for finite positive x.
long double reduce_for_log(long double x, int &exponent);
// 2 atanh(s) - 2s, for |s| <= 0.172.
long double atanh_tail(long double s);
// e^r and e^r - 1 for |r| <= ln2/2.
long double exp_reduced(long double r);
long double expm1_reduced(long double r);

}  // namespace kivm
