// A computation for gdb to run backwards: a running total written once per
// round of a loop, a call to step into, over and out of, and a spin of
// about four instructions per round (its count the first argument, in
// decimal) to go back across. Exits 0 when the total is right; with a
// second argument it stores through a null pointer instead.
#include <stdlib.h>

#include "check.h"

namespace {

volatile int g_total;  // 1, 5, 14, 30, 55
volatile int g_report;
volatile unsigned g_spun;

__attribute__((noinline)) int square(int x) {
    int result = x * x;
    return result;
}

__attribute__((noinline)) void spin(unsigned rounds) {
    for (unsigned round = 0; round < rounds; round++) g_spun = round;
}

__attribute__((noinline)) void report(int total) {
    g_report = total;
    check_say_number(total);
    check_say("\n");
}

}  // namespace

extern "C" int main(int argc, char **argv) {
    unsigned rounds = argc > 1 ? static_cast<unsigned>(strtoul(argv[1], nullptr, 10)) : 0;
    for (int i = 1; i <= 5; i++) {
        int squared = square(i);
        g_total = g_total + squared;
    }
    spin(rounds);
    report(g_total);
    if (argc > 2) *static_cast<volatile int *>(nullptr) = g_report;
    return g_report == 55 ? 0 : 1;
}
