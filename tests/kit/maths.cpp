// A kit user's C++ command on <cmath>, libstdc++'s own header over the
// kit's math.h, linked with -lm.
#include <stdio.h>

#include <cmath>

int main() {
    long root = std::lround(1e6 * std::sqrt(2.0));
    long cube = std::lround(std::cbrt(-27.0f));
    long gamma = std::lround(std::tgamma(5.0L));
    printf("%ld %ld %ld %d\n", root, cube, gamma, std::isnan(std::log(-1.0)) && std::signbit(-0.0));
    return 0;
}
