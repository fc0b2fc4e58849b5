/* A kit user's C89 command on math.h, linked with -lm. The values are
 * printed as integers: the formatting engines have no floating point. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
    double x = argc > 1 ? strtod(argv[1], NULL) : 2.0;
    printf("%ld %ld %ld %d %d\n", (long)floor(1e6 * sqrt(x)), (long)floor(1e6 * sin(x)), (long)ceil(pow(x, 10.0)),
           isnan(log(-x)) != 0, fpclassify(HUGE_VAL) == FP_INFINITE);
    return 0;
}
