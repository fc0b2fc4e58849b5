// Number conversion: whitespace sets, signs, bases and prefixes, end
// positions, wrapping, and strtold's forms, caps and non-numbers (values
// compared bit for bit).
#include "check_case.h"
#include "errno.h"
#include "stdlib.h"
#include "string.h"

namespace {

constexpr int kLongDoubleBytes = 10;

struct AtoiCase {
    const char *name;
    const char *s;
    int want;
};

const AtoiCase kAtoiCases[] = {
    {"null", nullptr, 0},
    {"empty", "", 0},
    {"carriage return not skipped", "\r5", 0},
    {"vertical tab not skipped", "\v5", 0},
    {"tab plus", "\t+7x", 7},
    {"newline space minus", "\n -12", -12},
    {"sign then sign", "+-3", 0},
    {"sign then space", "- 3", 0},
    {"most negative", "-2147483648", INT32_MIN},
    {"wraps to most negative", "2147483648", INT32_MIN},
    {"wraps past 2^32", "4294967301", 5},
    {"stops at non-digit", "12a3", 12},
    {"no hex", "0x10", 0},
};

void test_atoi() {
    for (const AtoiCase &c : kAtoiCases) {
        int before = g_check_failures;
        CHECK_EQ(atoi(c.s), c.want);
        CHECK_EQ(atol(c.s), c.want);
        check_case_end(before, c.name);
    }
}

struct IntegerCase {
    const char *name;
    const char *s;
    int base;
    uint32_t want;
    int end;  // offset into s
};

const IntegerCase kIntegerCases[] = {
    {"base 0 hex", "0x1F", 0, 31, 4},
    {"base 0 hex upper X", "0XaB", 0, 171, 4},
    {"base 0 octal", "012", 0, 10, 3},
    {"base 0 octal stops at 9", "09", 0, 0, 1},
    {"base 0 lone zero", "0", 0, 0, 1},
    {"base 0 decimal", "123", 0, 123, 3},
    {"base 0 prefix without digit", "0xg", 0, 0, 2},
    {"base 16 prefix", "0x1f", 16, 31, 4},
    {"base 16 no prefix", "ff", 16, 255, 2},
    {"base 16 prefix without digit", "0x", 16, 0, 2},
    {"base 10 no prefix handling", "0x5", 10, 0, 1},
    {"carriage return skipped", "\r5", 10, 5, 2},
    {"vertical tab not skipped", "\v5", 10, 0, 0},
    {"end after whitespace", "  z", 10, 0, 2},
    {"base 36 hex letters", "ff", 36, 555, 2},
    {"base 36 no other letters", "zz", 36, 0, 0},
    {"base 2", "1012", 2, 5, 3},
    {"base 1 only zero", "001", 1, 0, 2},
    {"negative base", "5", -1, 0, 0},
    {"no sign", "-5", 10, 0, 0},
    {"no plus", "+5", 10, 0, 0},
    {"wraps at 2^32", "4294967296", 10, 0, 10},
    {"largest", "4294967295", 10, 0xffffffffu, 10},
    {"base 8 rejects 8", "778", 8, 63, 2},
};

void test_strtoul() {
    for (const IntegerCase &c : kIntegerCases) {
        int before = g_check_failures;
        char *end = nullptr;
        CHECK_EQ(strtoul(c.s, &end, c.base), c.want);
        CHECK_EQ(end - c.s, c.end);
        CHECK_EQ(strtol(c.s, &end, c.base), static_cast<int32_t>(c.want));
        CHECK_EQ(end - c.s, c.end);
        CHECK_EQ(strtoul(c.s, nullptr, c.base), c.want);
        check_case_end(before, c.name);
    }
    char *end = reinterpret_cast<char *>(1);
    CHECK_EQ(strtoul(nullptr, &end, 10), 0);
    CHECK(end == nullptr);
    end = reinterpret_cast<char *>(1);
    CHECK_EQ(strtol(nullptr, &end, 10), 0);
    CHECK(end == nullptr);
    CHECK_EQ(strtol("2147483648", nullptr, 10), INT32_MIN);
}

struct FloatCase {
    const char *name;
    const char *s;
    long double want;
    int end;  // offset into s
};

const FloatCase kFloatCases[] = {
    {"fraction", "1.5", 1.5L, 3},
    {"spaces sign exponent", "  -2.5e1x", -25.0L, 8},
    {"all whitespace", "\t\n\v\f\r 7", 7.0L, 7},
    {"point without digits", "5.", 5.0L, 2},
    {"point then exponent", "5.e3", 5000.0L, 4},
    {"leading point", ".5", 0.5L, 2},
    {"plus", "+3", 3.0L, 2},
    {"exponent letter only", "1e", 1.0L, 1},
    {"exponent sign only", "1e+", 1.0L, 1},
    {"exponent sign then letter", "1e-x", 1.0L, 1},
    {"negative exponent", "25e-2", 0.25L, 5},
    {"upper E", "1E2", 100.0L, 3},
    {"leading zero decimal", "0123", 123.0L, 4},
    {"hex exponent", "0x1p3", 8.0L, 5},
    {"hex fraction exponent", "0x1.8p1", 3.0L, 7},
    {"hex leading point", "0x.8", 0.5L, 4},
    {"hex negative", "-0x10", -16.0L, 5},
    {"hex letters", "0XaB", 171.0L, 4},
    {"hex point after digits", "0x2.", 2.0L, 4},
    {"hex negative exponent", "0x8P-4", 0.5L, 6},
    {"hex p only", "0x1p", 1.0L, 3},
    {"hex p sign only", "0x1p-", 1.0L, 3},
    {"decimal has no hex letters", "12ab", 12.0L, 2},
    {"negative zero", "-0", -0.0L, 2},
    {"non-number point", ".", 0.0L, 0},
    {"non-number point then e", ".e1", 0.0L, 0},
    {"non-number sign", "-x", 0.0L, 0},
    {"non-number two signs", "+-1", 0.0L, 0},
    {"non-number inf", "inf", 0.0L, 0},
    {"non-number nan", "nan", 0.0L, 0},
    {"non-number 0x", "0x", 0.0L, 0},
    {"non-number 0xg", "0xg", 0.0L, 0},
    {"non-number 0x point", "  -0x.", 0.0L, 0},
    {"non-number empty", "", 0.0L, 0},
};

void test_strtold() {
    for (const FloatCase &c : kFloatCases) {
        int before = g_check_failures;
        char *end = nullptr;
        long double got = strtold(c.s, &end);
        CHECK_BYTES(&got, &c.want, kLongDoubleBytes);
        CHECK_EQ(end - c.s, c.end);
        double narrowed = strtod(c.s, &end);
        double want_narrowed = static_cast<double>(c.want);
        CHECK_BYTES(&narrowed, &want_narrowed, sizeof(double));
        CHECK_EQ(end - c.s, c.end);
        check_case_end(before, c.name);
    }
    char *end = reinterpret_cast<char *>(1);
    long double zero = 0.0L;
    long double from_null = strtold(nullptr, &end);
    CHECK_BYTES(&from_null, &zero, kLongDoubleBytes);
    CHECK(end == nullptr);
}

// Beyond 1024 steps the exponent and the fraction scaling stop; the
// accumulator itself may leave the range only through its digits.
void test_strtold_caps() {
    long double huge = strtold("1e5000", nullptr);
    CHECK(huge > 1e1023L && huge < 1e1025L);
    CHECK(strtold("1e1024", nullptr) == huge);
    // Exponent digits that would wrap a 32-bit magnitude to 0 or 1.
    CHECK(strtold("1e4294967296", nullptr) == huge);
    CHECK(strtold("0x1p-4294967297", nullptr) == 0x1p-1024L);
    CHECK(strtold("1e-5000", nullptr) == strtold("1e-1024", nullptr));
    CHECK(strtold("1e-5000", nullptr) > 0.0L);
    CHECK(strtold("0x1p5000", nullptr) == 0x1p1024L);
    CHECK(strtold("0x1p-5000", nullptr) == 0x1p-1024L);
    double infinity = strtod("1e5000", nullptr);
    CHECK(infinity > 1e308 && infinity == infinity * 2);
    double negative_infinity = strtod("-1e5000", nullptr);
    CHECK(negative_infinity < -1e308 && negative_infinity == negative_infinity * 2);
    // Narrowing rounds to nearest, ties to even, into the subnormal doubles
    // (1.5 times the smallest one becomes twice it) and down to zero.
    CHECK(strtod("0x1p-1024", nullptr) == 0x1p-1024);
    CHECK(strtod("0x0.0000000000006p-1024", nullptr) == 0x1p-1073);
    CHECK(strtod("0x0.00000000000001p-1024", nullptr) == 0.0);
}

void test_abs() {
    const int32_t kValues[][2] = {
        {-5, 5}, {5, 5}, {0, 0}, {INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}, {-INT32_MAX, INT32_MAX}};
    for (const auto &pair : kValues) {
        CHECK_EQ(abs(pair[0]), pair[1]);
        CHECK_EQ(labs(pair[0]), pair[1]);
    }
}

}  // namespace

extern "C" int main() {
    test_atoi();
    test_strtoul();
    test_strtold();
    test_strtold_caps();
    test_abs();
    // Conversions never touch the error number.
    CHECK_EQ(errno, 0);
    return check_done();
}
