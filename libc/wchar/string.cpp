// Wide strings: the ISO functions on wchar_t, sharing their algorithms with
// string.h's additions. Comparisons give -1, 0 or 1 (wchar_t is signed).
#include "internal/text.h"
#include "wchar.h"

namespace {

int order(wchar_t a, wchar_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

}  // namespace

extern "C" {

size_t wcslen(const wchar_t *s) { return kiv::text::length(s); }

int wcsncmp(const wchar_t *a, const wchar_t *b, size_t n) {
    for (size_t i = 0; i < n; i++) {
        if (a[i] != b[i] || a[i] == 0) return order(a[i], b[i]);
    }
    return 0;
}

int wcscmp(const wchar_t *a, const wchar_t *b) { return wcsncmp(a, b, SIZE_MAX); }

int wcscoll(const wchar_t *a, const wchar_t *b) { return wcscmp(a, b); }

size_t wcsxfrm(wchar_t *d, const wchar_t *s, size_t n) { return kiv::text::transform(d, s, n); }

wchar_t *wcsncpy(wchar_t *d, const wchar_t *s, size_t n) {
    size_t i = 0;
    for (; i < n && s[i] != 0; i++) d[i] = s[i];
    for (; i < n; i++) d[i] = 0;
    return d;
}

wchar_t *wcscpy(wchar_t *d, const wchar_t *s) { return wmemcpy(d, s, wcslen(s) + 1); }

wchar_t *wcsncat(wchar_t *d, const wchar_t *s, size_t n) {
    wchar_t *end = d + wcslen(d);
    size_t i = 0;
    for (; i < n && s[i] != 0; i++) end[i] = s[i];
    end[i] = 0;
    return d;
}

wchar_t *wcscat(wchar_t *d, const wchar_t *s) { return wcsncat(d, s, SIZE_MAX); }

// The terminating NUL counts as part of the string.
wchar_t *wcschr(const wchar_t *s, wchar_t c) { return kiv::text::find_in(s, c, wcslen(s) + 1); }

wchar_t *wcsrchr(const wchar_t *s, wchar_t c) {
    const wchar_t *found = nullptr;
    for (const wchar_t *p = s;; p++) {
        if (*p == c) found = p;
        if (*p == 0) return const_cast<wchar_t *>(found);
    }
}

wchar_t *wcsstr(const wchar_t *haystack, const wchar_t *needle) {
    size_t n = wcslen(needle);
    for (const wchar_t *p = haystack;; p++) {
        if (wcsncmp(p, needle, n) == 0) return const_cast<wchar_t *>(p);
        if (*p == 0) return nullptr;
    }
}

wchar_t *wcspbrk(const wchar_t *s, const wchar_t *set) { return kiv::text::first_of(s, set); }

size_t wcsspn(const wchar_t *s, const wchar_t *set) { return kiv::text::span(s, set, true); }

size_t wcscspn(const wchar_t *s, const wchar_t *set) { return kiv::text::span(s, set, false); }

// The position after a token is kept in the caller's `saved`.
wchar_t *wcstok(wchar_t *s, const wchar_t *delims, wchar_t **saved) {
    if (s == nullptr) s = *saved;
    if (s == nullptr) return nullptr;
    s += wcsspn(s, delims);
    if (*s == 0) {
        *saved = nullptr;
        return nullptr;
    }
    wchar_t *end = s + wcscspn(s, delims);
    *saved = *end != 0 ? end + 1 : nullptr;
    *end = 0;
    return s;
}

wchar_t *wmemchr(const wchar_t *s, wchar_t c, size_t n) { return kiv::text::find_in(s, c, n); }

int wmemcmp(const wchar_t *a, const wchar_t *b, size_t n) {
    for (size_t i = 0; i < n; i++)
        if (a[i] != b[i]) return order(a[i], b[i]);
    return 0;
}

wchar_t *wmemcpy(wchar_t *d, const wchar_t *s, size_t n) {
    for (size_t i = 0; i < n; i++) d[i] = s[i];
    return d;
}

wchar_t *wmemmove(wchar_t *d, const wchar_t *s, size_t n) {
    if (d <= s) return wmemcpy(d, s, n);
    for (size_t i = n; i-- > 0;) d[i] = s[i];
    return d;
}

wchar_t *wmemset(wchar_t *d, wchar_t c, size_t n) {
    for (size_t i = 0; i < n; i++) d[i] = c;
    return d;
}

}  // extern "C"
