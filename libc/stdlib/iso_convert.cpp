// The kit's ISO C conversions for ported code: signs, ERANGE and
// saturation, the way hosted C programs expect them (strtol and strtoul
// keep the runtime's own rules). strtof goes through the x87 80-bit format:
// the first 19 significant digits and the power of ten meet in one rounded
// operation (a few for exponents beyond 27), and the narrowing to float
// rounds once more. That is the correctly rounded float unless the text
// lies within about 10^-19 of a halfway point between two floats.
#include <float.h>
#include <limits.h>
#include <stdint.h>

#include "ctype.h"
#include "errno.h"
#include "stdlib.h"

namespace kiv::iso_convert {
namespace {

constexpr int kMaxBase = 36;
constexpr int kNoDigit = 99;
constexpr int kDecimal = 10;
constexpr int kHex = 16;
// Up to 19 decimal digits (16 hexadecimal) always fit 64 bits.
constexpr int kSignificantDecimalDigits = 19;
constexpr int kSignificantHexDigits = 16;
// Exponents beyond this already overflow or underflow every format.
constexpr long kExponentCeiling = 100000;
// The powers of ten up to 10^27 are exact in the 64-bit significand.
constexpr int kExactPowersOfTen = 27;

using Byte = unsigned char;

int digit_value(Byte c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return kNoDigit;
}

bool is_hex_prefix(const Byte *p) { return p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) < kHex; }

void store_end(char **end, const void *position) {
    if (end != nullptr) *end = static_cast<char *>(const_cast<void *>(position));
}

const Byte *skip_space_and_sign(const char *s, bool &negative) {
    const Byte *p = reinterpret_cast<const Byte *>(s);
    while (isspace(*p)) p++;
    negative = *p == '-';
    if (*p == '+' || *p == '-') p++;
    return p;
}

struct Magnitude {
    uint64_t value;
    bool negative;
    bool overflow;
};

// The digits of `s` in `base` (0: chosen by the prefix), saturating at
// 2^64 - 1. `end` is left at `s` when no digit was read.
Magnitude read_magnitude(const char *s, char **end, int base) {
    Magnitude m{0, false, false};
    store_end(end, s);
    if (base < 0 || base == 1 || base > kMaxBase) {
        errno = EINVAL;
        return m;
    }
    const Byte *p = skip_space_and_sign(s, m.negative);
    if ((base == 0 || base == kHex) && is_hex_prefix(p)) {
        p += 2;
        base = kHex;
    } else if (base == 0) {
        base = *p == '0' ? 8 : kDecimal;
    }
    const Byte *first = p;
    for (int d; (d = digit_value(*p)) < base; p++) {
        if (__builtin_mul_overflow(m.value, static_cast<uint64_t>(base), &m.value) ||
            __builtin_add_overflow(m.value, static_cast<uint64_t>(d), &m.value))
            m.overflow = true;
    }
    if (m.overflow) m.value = UINT64_MAX;
    if (p != first) store_end(end, p);
    return m;
}

long double power_of_ten(long exponent) {
    long double result = 1.0L, factor = 10.0L;
    for (; exponent > 0; exponent >>= 1, factor *= factor)
        if (exponent & 1) result *= factor;
    return result;
}

long double scale_by_ten(long double value, long exponent) {
    if (exponent > kExactPowersOfTen || exponent < -kExactPowersOfTen) {
        long half = exponent / 2;
        return scale_by_ten(scale_by_ten(value, half), exponent - half);
    }
    return exponent >= 0 ? value * power_of_ten(exponent) : value / power_of_ten(-exponent);
}

long double scale_by_two(long double value, long exponent) {
    for (; exponent > 0; exponent--) value *= 2.0L;
    for (; exponent < 0; exponent++) value *= 0.5L;
    return value;
}

// The optional exponent after the digits: a letter, a sign and at least
// one digit; otherwise nothing of it is read.
long read_exponent(const Byte *&p, Byte letter) {
    if ((*p | 0x20) != letter) return 0;
    const Byte *q = p + 1;
    bool negative = *q == '-';
    if (*q == '+' || *q == '-') q++;
    if (digit_value(*q) >= kDecimal) return 0;
    long exponent = 0;
    for (; digit_value(*q) < kDecimal; q++)
        if (exponent < kExponentCeiling) exponent = exponent * kDecimal + digit_value(*q);
    p = q;
    return negative ? -exponent : exponent;
}

struct Digits {
    uint64_t significand;
    long exponent;  // in powers of the radix
    bool any;
};

// Digits with an optional point between them; those past the significant
// ones only move the exponent (a dropped non-zero hex digit leaves a sticky
// low bit, so the narrowing still rounds the right way).
Digits read_digits(const Byte *&p, int radix, int significant) {
    Digits d{0, 0, false};
    int kept = 0;
    bool after_point = false;
    for (;; p++) {
        if (*p == '.' && !after_point) {
            after_point = true;
            continue;
        }
        int v = digit_value(*p);
        if (v >= radix) break;
        d.any = true;
        if (kept < significant && (kept > 0 || v != 0)) {
            d.significand = d.significand * static_cast<uint32_t>(radix) + static_cast<uint32_t>(v);
            kept++;
            if (after_point) d.exponent--;
        } else if (kept >= significant) {
            if (!after_point) d.exponent++;
            if (v != 0) d.significand |= 1;
        } else if (after_point) {
            d.exponent--;
        }
    }
    return d;
}

bool matches_word(const Byte *p, const char *word) {
    for (; *word != '\0'; p++, word++)
        if ((*p | 0x20) != *word) return false;
    return true;
}

struct Floating {
    long double value;
    bool special;      // inf or nan, as text
    bool nonzero;      // some digit was not 0
    uint64_t payload;  // a nan's number in parentheses
};

// A nan's parenthesised tail: letters, digits and '_'; when they are a
// number, it is the nan's payload.
uint64_t read_nan_tail(const Byte *&p) {
    if (*p != '(') return 0;
    const Byte *q = p + 1;
    while (isalnum(*q) || *q == '_') q++;
    if (*q != ')') return 0;
    char *number_end;
    uint64_t payload = strtoull(reinterpret_cast<const char *>(p + 1), &number_end, 0);
    bool is_number = reinterpret_cast<const Byte *>(number_end) == q && q != p + 1;
    p = q + 1;
    return is_number ? payload : 0;
}

// inf, infinity and nan (with an optional parenthesised tail), any case.
bool read_special(const Byte *&p, Floating &f) {
    f.special = true;
    if (matches_word(p, "inf")) {
        p += matches_word(p, "infinity") ? 8 : 3;
        f.value = __builtin_infl();
        return true;
    }
    if (!matches_word(p, "nan")) return false;
    p += 3;
    f.payload = read_nan_tail(p);
    f.value = __builtin_nanl("");
    return true;
}

bool starts_hex_number(const Byte *p) {
    return p[0] == '0' && (p[1] | 0x20) == 'x' &&
           (digit_value(p[2]) < kHex || (p[2] == '.' && digit_value(p[3]) < kHex));
}

// The decimal or hexadecimal floating text at `p`; false when there is no
// number there.
bool read_floating(const Byte *&p, Floating &f) {
    f = Floating{0.0L, false, false, 0};
    if (read_special(p, f)) return true;
    f.special = false;
    bool hex = starts_hex_number(p);
    const Byte *q = hex ? p + 2 : p;
    Digits d = read_digits(q, hex ? kHex : kDecimal, hex ? kSignificantHexDigits : kSignificantDecimalDigits);
    if (!d.any) return false;
    long exponent = read_exponent(q, hex ? 'p' : 'e');
    p = q;
    long double significand = static_cast<long double>(d.significand);
    f.nonzero = d.significand != 0;
    f.value = hex ? scale_by_two(significand, 4 * d.exponent + exponent)
                  : scale_by_ten(significand, d.exponent + exponent);
    return true;
}

// The quiet nan with the payload's low bits, as the float's bits.
float nan_with_payload(uint64_t payload, bool negative) {
    constexpr uint32_t kQuietNan = 0x7fc00000u, kPayloadBits = 0x003fffffu, kSignBit = 0x80000000u;
    uint32_t bits = kQuietNan | (static_cast<uint32_t>(payload) & kPayloadBits) | (negative ? kSignBit : 0);
    float result;
    __builtin_memcpy(&result, &bits, sizeof result);
    return result;
}

}  // namespace
}  // namespace kiv::iso_convert

extern "C" {

long long strtoll(const char *s, char **end, int base) {
    kiv::iso_convert::Magnitude m = kiv::iso_convert::read_magnitude(s, end, base);
    uint64_t limit = m.negative ? uint64_t{1} << 63 : uint64_t{LLONG_MAX};
    if (m.value > limit) {
        errno = ERANGE;
        return m.negative ? LLONG_MIN : LLONG_MAX;
    }
    return m.negative ? static_cast<long long>(0 - m.value) : static_cast<long long>(m.value);
}

// A minus sign negates the value in the unsigned type, as ISO C says.
unsigned long long strtoull(const char *s, char **end, int base) {
    kiv::iso_convert::Magnitude m = kiv::iso_convert::read_magnitude(s, end, base);
    if (m.overflow) {
        errno = ERANGE;
        return ULLONG_MAX;
    }
    return m.negative ? 0 - m.value : m.value;
}

long long atoll(const char *s) { return strtoll(s, nullptr, 10); }

float strtof(const char *s, char **end) {
    using namespace kiv::iso_convert;
    bool negative;
    const Byte *p = skip_space_and_sign(s, negative);
    Floating f;
    if (!read_floating(p, f)) {
        store_end(end, s);
        return 0.0f;
    }
    store_end(end, p);
    if (f.special && __builtin_isnan(f.value)) return nan_with_payload(f.payload, negative);
    long double value = negative ? -f.value : f.value;
    float result = static_cast<float>(value);
    bool overflow = __builtin_isinf(result) && !f.special;
    // Underflow is a result below the normal range that lost something.
    bool underflow = f.nonzero && (result == 0.0f ||
                                   (__builtin_fabsf(result) < FLT_MIN && static_cast<long double>(result) != value));
    if (overflow || underflow) errno = ERANGE;
    return result;
}

double atof(const char *s) { return strtod(s, nullptr); }

}  // extern "C"
