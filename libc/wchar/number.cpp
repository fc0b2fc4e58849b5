// Wide text to numbers: the leading ASCII run of the text (no number has
// another character) is narrowed into a buffer and read by the byte
// function, whose end position is carried back. At most kNarrowLimit
// characters are read.
#include "stdlib.h"
#include "wchar.h"

namespace kiv::wide {
namespace {

constexpr size_t kNarrowLimit = 1023;
constexpr wchar_t kFirstNonAscii = 128;

template <typename Value, typename Convert>
Value convert_narrowed(const wchar_t *s, wchar_t **end, Convert convert) {
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
}  // namespace kiv::wide

using kiv::wide::convert_narrowed;

extern "C" {

long wcstol(const wchar_t *s, wchar_t **end, int base) {
    return convert_narrowed<long>(s, end, [base](const char *t, char **e) { return strtol(t, e, base); });
}

unsigned long wcstoul(const wchar_t *s, wchar_t **end, int base) {
    return convert_narrowed<unsigned long>(s, end, [base](const char *t, char **e) { return strtoul(t, e, base); });
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
