// Floating point as programs meet it: conversions between integers,
// floats, doubles and long doubles, long double arithmetic, and every
// rounding mode and precision of the x87. Each result is printed as its
// bits in hex (the runtime's printf has no floating point): the kivos
// program under kivrun and its Linux twin on the CPU must print the same.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

// Values the compiler cannot fold: every operation runs at run time.
volatile double g_doubles[] = {0.1, 1.5, -2.5, 2147483647.0, 1e308, 4.9e-324, 3.0, -0.0, 123456789.123456789};
volatile int32_t g_integers[] = {2147483647, -2147483647 - 1, 7, -3, 16777217};
volatile long double g_three = 3.0L;

constexpr uint16_t kControlWord = 0x037f;
constexpr uint16_t kRoundingShift = 10, kPrecisionShift = 8;
constexpr const char *kRoundings[] = {"nearest", "down", "up", "zero"};
constexpr const char *kPrecisions[] = {"24", "reserved", "53", "64"};

void print_double(const char *name, double value) {
    uint32_t words[2];
    memcpy(words, &value, sizeof words);
    printf("%s %08x%08x\n", name, words[1], words[0]);
}

void print_float(const char *name, float value) {
    uint32_t word;
    memcpy(&word, &value, sizeof word);
    printf("%s %08x\n", name, word);
}

void print_long_double(const char *name, long double value) {
    uint32_t words[3] = {};
    memcpy(words, &value, 10);
    printf("%s %04x%08x%08x\n", name, words[2] & 0xffff, words[1], words[0]);
}

void set_control_word(uint16_t control) { asm volatile("fldcw %0" : : "m"(control)); }

long double square_root(long double value) {
    asm("fsqrt" : "+t"(value));
    return value;
}

// The x87's own conversion to an integer, in the current rounding mode.
int32_t rounded_integer(long double value) {
    int32_t result;
    asm("fistpl %0" : "=m"(result) : "t"(value) : "st");
    return result;
}

void conversions() {
    char name[48];
    for (unsigned i = 0; i < sizeof g_doubles / sizeof g_doubles[0]; i++) {
        double value = g_doubles[i];
        snprintf(name, sizeof name, "float(d%u)", i);
        print_float(name, static_cast<float>(value));
        snprintf(name, sizeof name, "int(d%u)", i);
        printf("%s %08x\n", name,
               static_cast<uint32_t>(static_cast<int32_t>(value < 2147483648.0 && value > -2147483649.0 ? value : 0)));
        snprintf(name, sizeof name, "int64(d%u)", i);
        auto wide = static_cast<int64_t>(value > -9.2e18 && value < 9.2e18 ? value : 0);
        printf("%s %08x%08x\n", name, static_cast<uint32_t>(static_cast<uint64_t>(wide) >> 32),
               static_cast<uint32_t>(wide));
        snprintf(name, sizeof name, "d%u/3", i);
        print_double(name, value / g_doubles[6]);
    }
    for (unsigned i = 0; i < sizeof g_integers / sizeof g_integers[0]; i++) {
        snprintf(name, sizeof name, "double(i%u)", i);
        print_double(name, static_cast<double>(g_integers[i]));
        snprintf(name, sizeof name, "float(i%u)", i);
        print_float(name, static_cast<float>(g_integers[i]));
        snprintf(name, sizeof name, "long-double(i%u)/3", i);
        print_long_double(name, static_cast<long double>(g_integers[i]) / g_three);
    }
}

void long_doubles() {
    long double third = 1.0L / g_three;
    print_long_double("1/3", third);
    print_long_double("sqrt(3)", square_root(g_three));
    print_long_double("1e308*1e10", static_cast<long double>(g_doubles[4]) * 1e10L);
    print_long_double("denormal/3", static_cast<long double>(g_doubles[5]) / g_three);
    print_double("double(1/3)", static_cast<double>(third));
    print_float("float(1/3)", static_cast<float>(third));
}

// Every rounding mode at every precision: 1/3, 2/3 and the x87's own
// rounding of 2.5 and -2.5 to integers.
void rounding_modes() {
    char name[48];
    for (uint16_t rounding = 0; rounding < 4; rounding++) {
        for (uint16_t precision = 0; precision < 4; precision++) {
            if (precision == 1) continue;
            set_control_word(static_cast<uint16_t>((kControlWord & ~0x0f00) | rounding << kRoundingShift |
                                                   precision << kPrecisionShift));
            long double third = 1.0L / g_three, two_thirds = 2.0L / g_three;
            long double halves = static_cast<long double>(g_doubles[2]);
            int32_t down = rounded_integer(halves), up = rounded_integer(-halves);
            set_control_word(kControlWord);
            snprintf(name, sizeof name, "%s/%s 1/3", kRoundings[rounding], kPrecisions[precision]);
            print_long_double(name, third);
            snprintf(name, sizeof name, "%s/%s 2/3", kRoundings[rounding], kPrecisions[precision]);
            print_long_double(name, two_thirds);
            printf("%s/%s rint(-2.5) %08x rint(2.5) %08x\n", kRoundings[rounding], kPrecisions[precision],
                   static_cast<uint32_t>(down), static_cast<uint32_t>(up));
        }
    }
}

}  // namespace

extern "C" int main() {
    conversions();
    long_doubles();
    rounding_modes();
    return 0;
}
