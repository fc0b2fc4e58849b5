// Text to numbers. Integers wrap modulo 2^32; strtold works in the x87
// 80-bit format, one rounded operation per step, so its result depends on
// the exact order of operations below and is not correctly rounded.
#include <stdint.h>

#include "stdlib.h"

namespace kiv::convert {
namespace {

using Byte = unsigned char;

constexpr int kNoDigit = -1;
constexpr int kDecimal = 10;
constexpr int kOctal = 8;
constexpr int kHex = 16;

// Each scaling stage of strtold runs at most this many steps, and exponent
// magnitudes stop growing here (anything at or above the cap acts alike).
constexpr uint32_t kMaxScalingSteps = 1024;
constexpr uint32_t kExponentCeiling = 4096;

constexpr long double kHexFractionStep = 0.0625L;
constexpr long double kBinaryFractionStep = 0.5L;

// Each parser has its own idea of leading whitespace.
bool is_atoi_space(Byte c) { return c == '\t' || c == '\n' || c == ' '; }
bool is_strtoul_space(Byte c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }
bool is_strtold_space(Byte c) { return (c >= '\t' && c <= '\r') || c == ' '; }

const Byte *skip_space(const char *s, bool (*is_space)(Byte)) {
    const Byte *p = reinterpret_cast<const Byte *>(s);
    while (is_space(*p)) p++;
    return p;
}

int decimal_value(Byte c) { return (c >= '0' && c <= '9') ? c - '0' : kNoDigit; }

int digit_value(Byte c) {
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return decimal_value(c);
}

bool is_hex_prefix(const Byte *p) { return p[0] == '0' && (p[1] == 'x' || p[1] == 'X'); }

void store_end(char **end, const void *position) {
    if (end != nullptr) *end = static_cast<char *>(const_cast<void *>(position));
}

uint32_t magnitude_of(int32_t v) { return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v); }

// The base actually used, after passing over the prefix that chose it.
int choose_base(const Byte *&p, int base) {
    if (base == 0) {
        if (is_hex_prefix(p)) {
            p += 2;
            return kHex;
        }
        if (*p == '0') {
            p++;
            return kOctal;
        }
        return kDecimal;
    }
    if (base == kHex && is_hex_prefix(p)) p += 2;
    return base;
}

// strtold's parse state: the position reached and the value so far.
struct Reading {
    const Byte *p;
    long double value;
};

// Digits of `radix` (hex letters only when radix is 16) enter the value one
// multiply-then-add step each; returns how many were read.
uint32_t read_digits(Reading &r, int radix) {
    uint32_t count = 0;
    for (;; r.p++, count++) {
        int d = radix == kHex ? digit_value(*r.p) : decimal_value(*r.p);
        if (d == kNoDigit) return count;
        r.value = r.value * radix;
        r.value = r.value + d;
    }
}

uint32_t capped(uint32_t steps) { return steps < kMaxScalingSteps ? steps : kMaxScalingSteps; }

// A signed exponent after its letter. It counts only with at least one
// digit; otherwise the letter is not consumed and nothing changes.
struct Exponent {
    bool present;
    bool negative;
    uint32_t magnitude;
};

Exponent read_exponent(Reading &r, Byte lower, Byte upper) {
    if (*r.p != lower && *r.p != upper) return {false, false, 0};
    const Byte *q = r.p + 1;
    bool negative = *q == '-';
    if (*q == '+' || *q == '-') q++;
    if (decimal_value(*q) == kNoDigit) return {false, false, 0};
    uint32_t e = 0;
    for (int digit; (digit = decimal_value(*q)) != kNoDigit; q++) {
        e = e * kDecimal + static_cast<uint32_t>(digit);
        if (e > kExponentCeiling) e = kExponentCeiling;
    }
    r.p = q;
    return {true, negative, e};
}

void scale_decimal(Reading &r, bool down, uint32_t steps) {
    for (uint32_t i = capped(steps); i > 0; i--) r.value = down ? r.value / kDecimal : r.value * kDecimal;
}

// Fraction digits after the point, then the optional 'e' exponent.
void read_decimal_tail(Reading &r) {
    scale_decimal(r, true, read_digits(r, kDecimal));
    Exponent e = read_exponent(r, 'e', 'E');
    if (e.present) scale_decimal(r, e.negative, e.magnitude);
}

void scale_binary(Reading &r, bool down, uint32_t steps) {
    for (uint32_t i = capped(steps); i > 0; i--) r.value = down ? r.value * kBinaryFractionStep : r.value + r.value;
}

// After "0x": hex digits, an optional point and hex fraction, an optional
// 'p' exponent. False when no hex digit came at all.
bool read_hex(Reading &r) {
    uint32_t digits = read_digits(r, kHex);
    uint32_t fraction_digits = 0;
    if (*r.p == '.') {
        r.p++;
        fraction_digits = read_digits(r, kHex);
    }
    if (digits + fraction_digits == 0) return false;
    for (uint32_t i = capped(fraction_digits); i > 0; i--) r.value = r.value * kHexFractionStep;
    Exponent e = read_exponent(r, 'p', 'P');
    if (e.present) scale_binary(r, e.negative, e.magnitude);
    return true;
}

// The unsigned number after any sign; false for a non-number.
bool read_unsigned_number(Reading &r) {
    if (is_hex_prefix(r.p)) {
        r.p += 2;
        return read_hex(r);
    }
    if (decimal_value(r.p[0]) != kNoDigit) {
        read_digits(r, kDecimal);
        if (*r.p == '.') r.p++;
        read_decimal_tail(r);
        return true;
    }
    if (r.p[0] == '.' && decimal_value(r.p[1]) != kNoDigit) {
        r.p++;
        read_decimal_tail(r);
        return true;
    }
    return false;
}

}  // namespace
}  // namespace kiv::convert

using namespace kiv::convert;

extern "C" {

int atoi(const char *s) {
    if (s == nullptr) return 0;
    const Byte *p = skip_space(s, is_atoi_space);
    bool negative = *p == '-';
    if (*p == '+' || *p == '-') p++;
    uint32_t value = 0;
    for (int digit; (digit = decimal_value(*p)) != kNoDigit; p++)
        value = value * kDecimal + static_cast<uint32_t>(digit);
    return static_cast<int>(negative ? 0u - value : value);
}

long atol(const char *s) { return atoi(s); }

unsigned long strtoul(const char *s, char **end, int base) {
    if (s == nullptr) {
        store_end(end, nullptr);
        return 0;
    }
    const Byte *p = skip_space(s, is_strtoul_space);
    base = choose_base(p, base);
    uint32_t value = 0;
    for (int d; (d = digit_value(*p)) != kNoDigit && d < base; p++)
        value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
    store_end(end, p);
    return value;
}

long strtol(const char *s, char **end, int base) { return static_cast<long>(strtoul(s, end, base)); }

long double strtold(const char *s, char **end) {
    if (s == nullptr) {
        store_end(end, nullptr);
        return 0.0L;
    }
    Reading r{skip_space(s, is_strtold_space), 0.0L};
    long double sign = 1.0L;
    if (*r.p == '+' || *r.p == '-') sign = *r.p++ == '-' ? -1.0L : 1.0L;
    if (!read_unsigned_number(r)) {
        store_end(end, s);
        return 0.0L;
    }
    store_end(end, r.p);
    return r.value * sign;
}

double strtod(const char *s, char **end) { return static_cast<double>(strtold(s, end)); }

int abs(int v) { return static_cast<int>(magnitude_of(v)); }

long labs(long v) { return static_cast<long>(magnitude_of(v)); }

}  // extern "C"
