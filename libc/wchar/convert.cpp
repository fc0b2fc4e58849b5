// Between bytes and wide characters in the "C" locale: every byte is one
// character of the same value, and wide characters above 255 have no byte.
// Nothing keeps state, so the mbstate_t arguments are not read.
#include "errno.h"
#include "stdio.h"
#include "stdlib.h"
#include "wchar.h"

namespace kiv::wide {
namespace {

constexpr size_t kInvalid = static_cast<size_t>(-1);
constexpr size_t kIncomplete = static_cast<size_t>(-2);
constexpr wchar_t kLargestByte = 0xff;

bool has_byte(wchar_t wc) { return wc >= 0 && wc <= kLargestByte; }

wchar_t widen(char c) { return static_cast<unsigned char>(c); }

}  // namespace
}  // namespace kiv::wide

using namespace kiv::wide;

extern "C" {

wint_t btowc(int c) { return c == EOF ? WEOF : static_cast<unsigned char>(c); }

int wctob(wint_t wc) { return has_byte(static_cast<wchar_t>(wc)) ? static_cast<int>(wc) : EOF; }

int mbsinit(const mbstate_t *) { return 1; }

size_t mbrtowc(wchar_t *wc, const char *s, size_t n, mbstate_t *) {
    if (s == nullptr) return 0;
    if (n == 0) return kIncomplete;
    if (wc != nullptr) *wc = widen(*s);
    return *s != '\0' ? 1 : 0;
}

size_t mbrlen(const char *s, size_t n, mbstate_t *state) { return mbrtowc(nullptr, s, n, state); }

size_t wcrtomb(char *s, wchar_t wc, mbstate_t *) {
    if (s == nullptr) return 1;
    if (!has_byte(wc)) {
        errno = EILSEQ;
        return kInvalid;
    }
    *s = static_cast<char>(wc);
    return 1;
}

// Up to `n` characters (any number when `d` is null, which only counts);
// *s is left after the last one converted, or null when the NUL was.
size_t mbsrtowcs(wchar_t *d, const char **s, size_t n, mbstate_t *) {
    const char *p = *s;
    size_t count = 0;
    for (; d == nullptr || count < n; count++, p++) {
        if (d != nullptr) d[count] = widen(*p);
        if (*p == '\0') {
            if (d != nullptr) *s = nullptr;
            return count;
        }
    }
    *s = p;
    return count;
}

size_t wcsrtombs(char *d, const wchar_t **s, size_t n, mbstate_t *) {
    const wchar_t *p = *s;
    size_t count = 0;
    for (; d == nullptr || count < n; count++, p++) {
        if (!has_byte(*p)) {
            errno = EILSEQ;
            if (d != nullptr) *s = p;
            return kInvalid;
        }
        if (d != nullptr) d[count] = static_cast<char>(*p);
        if (*p == 0) {
            if (d != nullptr) *s = nullptr;
            return count;
        }
    }
    *s = p;
    return count;
}

int mblen(const char *s, size_t n) { return mbtowc(nullptr, s, n); }

int mbtowc(wchar_t *wc, const char *s, size_t n) {
    if (s == nullptr) return 0;
    size_t result = mbrtowc(wc, s, n, nullptr);
    return result == kIncomplete ? -1 : static_cast<int>(result);
}

int wctomb(char *s, wchar_t wc) {
    if (s == nullptr) return 0;
    size_t result = wcrtomb(s, wc, nullptr);
    return result == kInvalid ? -1 : static_cast<int>(result);
}

size_t mbstowcs(wchar_t *d, const char *s, size_t n) { return mbsrtowcs(d, &s, n, nullptr); }

size_t wcstombs(char *d, const wchar_t *s, size_t n) { return wcsrtombs(d, &s, n, nullptr); }

}  // extern "C"
