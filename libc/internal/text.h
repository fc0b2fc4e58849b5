// The ISO string algorithms the byte and wide functions share: each takes
// its character type, so string.h's additions and wchar.h's functions are
// one code. Unlike the runtime's lenient byte functions they take no null pointers.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kiv::text {

template <typename Char> bool contains(const Char *set, Char c) {
    for (; *set != 0; set++)
        if (*set == c) return true;
    return false;
}

// The length of the leading run of `s` whose characters are in `set`
// (`inside`) or outside it.
template <typename Char> size_t span(const Char *s, const Char *set, bool inside) {
    size_t n = 0;
    while (s[n] != 0 && contains(set, s[n]) == inside) n++;
    return n;
}

template <typename Char> Char *first_of(const Char *s, const Char *set) {
    s += span(s, set, false);
    return *s != 0 ? const_cast<Char *>(s) : nullptr;
}

template <typename Char> Char *find_in(const Char *s, Char c, size_t n) {
    for (size_t i = 0; i < n; i++)
        if (s[i] == c) return const_cast<Char *>(s + i);
    return nullptr;
}

template <typename Char> size_t length(const Char *s) {
    size_t n = 0;
    while (s[n] != 0) n++;
    return n;
}

// The "C" locale's transformation is a copy: `n` bounds what is written,
// NUL included; the result is the whole length.
template <typename Char> size_t transform(Char *d, const Char *s, size_t n) {
    size_t whole = length(s);
    if (whole < n) {
        for (size_t i = 0; i <= whole; i++) d[i] = s[i];
    }
    return whole;
}

}  // namespace kiv::text
