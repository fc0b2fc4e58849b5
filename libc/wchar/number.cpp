// Wide text to numbers, by ISO C's rules (signs, ERANGE, saturation): the
// leading ASCII run of the text (no number has another character) is
// narrowed into a buffer and read by the ISO byte function, whose end
// position is carried back. At most kNarrowLimit characters are read.
#include <limits.h>

#include "ctype.h"
#include "errno.h"
#include "stdlib.h"
#include "wchar.h"

namespace kiv::wide {
namespace {

constexpr size_t kNarrowLimit = 1023;
constexpr wchar_t kFirstNonAscii = 128;

template <typename Value, typename Convert> Value convert_narrowed(const wchar_t *s, wchar_t **end, Convert convert) {
    char narrow[kNarrowLimit + 1];
    size_t n = 0;
    for (; n < kNarrowLimit && s[n] > 0 && s[n] < kFirstNonAscii; n++) narrow[n] = static_cast<char>(s[n]);
    narrow[n] = '\0';
    char *narrow_end = narrow;
    Value value = convert(narrow, &narrow_end);
    if (end != nullptr) *end = const_cast<wchar_t *>(s) + (narrow_end - narrow);
    return value;
}

}  // namespace

// Whether the number starts with '-' after its blanks.
bool has_minus_sign(const wchar_t *s) {
    while (s[0] > 0 && s[0] < kFirstNonAscii && isspace(static_cast<int>(s[0]))) s++;
    return s[0] == L'-';
}

}  // namespace kiv::wide

using kiv::wide::convert_narrowed;

extern "C" {

// ISO C's rules, as strtoll's (not strtol's): the 64-bit result saturated
// to 32 bits.
long wcstol(const wchar_t *s, wchar_t **end, int base) {
    long long value = wcstoll(s, end, base);
    if (value > LONG_MAX || value < LONG_MIN) {
        errno = ERANGE;
        return value > 0 ? LONG_MAX : LONG_MIN;
    }
    return static_cast<long>(value);
}

// A minus sign negates the value in unsigned long, as ISO C says: the
// magnitude must fit 32 bits first.
unsigned long wcstoul(const wchar_t *s, wchar_t **end, int base) {
    unsigned long long value = wcstoull(s, end, base);
    bool negated = kiv::wide::has_minus_sign(s) && value != 0;
    unsigned long long magnitude = negated ? 0 - value : value;
    if (magnitude > ULONG_MAX) {
        errno = ERANGE;
        return ULONG_MAX;
    }
    return negated ? 0 - static_cast<unsigned long>(magnitude) : static_cast<unsigned long>(magnitude);
}

long long wcstoll(const wchar_t *s, wchar_t **end, int base) {
    return convert_narrowed<long long>(s, end, [base](const char *t, char **e) { return strtoll(t, e, base); });
}

unsigned long long wcstoull(const wchar_t *s, wchar_t **end, int base) {
    return convert_narrowed<unsigned long long>(s, end,
                                                [base](const char *t, char **e) { return strtoull(t, e, base); });
}

double wcstod(const wchar_t *s, wchar_t **end) { return convert_narrowed<double>(s, end, strtod); }

float wcstof(const wchar_t *s, wchar_t **end) { return convert_narrowed<float>(s, end, strtof); }

long double wcstold(const wchar_t *s, wchar_t **end) { return convert_narrowed<long double>(s, end, strtold); }

}  // extern "C"
