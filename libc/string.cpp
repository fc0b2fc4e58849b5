#include "string.h"

#include <stdint.h>

#include "stdlib.h"

namespace kiv::str {

namespace {

// Addresses below this are never mapped: the length and comparison
// functions answer them like a null pointer instead of faulting.
constexpr uintptr_t kLowAddressLimit = 4096;
// The comparisons of the unbounded string forms run until a terminator.
constexpr size_t kUnbounded = SIZE_MAX;

constexpr size_t kWordSize = sizeof(uint32_t);
constexpr uintptr_t kWordMask = kWordSize - 1;
constexpr uint32_t kByteSpread = 0x01010101u;

// Word views of byte memory: stores go through aligned words (every guest
// store is expensive under the emulator, so one word store replaces four byte
// stores); loads may be unaligned, which x86 allows.
typedef uint32_t __attribute__((may_alias)) StoredWord;
typedef uint32_t __attribute__((may_alias, aligned(1))) LoadedWord;

using Byte = unsigned char;

bool is_low(const void *p) { return reinterpret_cast<uintptr_t>(p) < kLowAddressLimit; }

bool is_word_aligned(const void *p) { return (reinterpret_cast<uintptr_t>(p) & kWordMask) == 0; }

// Bytes before the terminator, at most `max`; the caller has ruled out null.
size_t scan_length(const char *s, size_t max) {
    size_t n = 0;
    while (n < max && s[n] != 0) n++;
    return n;
}

size_t length_or_zero(const char *s) { return is_low(s) ? 0 : scan_length(s, kUnbounded); }

Byte same_byte(Byte b) { return b; }

Byte fold_ascii(Byte b) { return (b >= 'A' && b <= 'Z') ? static_cast<Byte>(b + ('a' - 'A')) : b; }

// Walks both strings until the folded bytes differ, `a` ends, or n bytes
// were compared; the answer is the difference of the folded bytes there.
template <Byte (*fold)(Byte)> int compare_folded(const char *a, const char *b, size_t n) {
    const Byte *x = reinterpret_cast<const Byte *>(a);
    const Byte *y = reinterpret_cast<const Byte *>(b);
    for (size_t i = 0; i < n; i++) {
        int left = fold(x[i]);
        int right = fold(y[i]);
        if (left != right || left == 0) return left - right;
    }
    return 0;
}

// The answer of the string comparisons for null and low operands; `known`
// is false when both strings must be read.
struct EarlyAnswer {
    bool known;
    int result;
};

EarlyAnswer compare_absent(bool a_absent, bool b_absent) {
    if (a_absent) return {true, -1};
    if (b_absent) return {true, 1};
    return {false, 0};
}

void copy_bytes_forward(Byte *d, const Byte *s, size_t n) {
    for (size_t i = 0; i < n; i++) d[i] = s[i];
}

// Bytes first until the destination is aligned, then whole words, then the
// tail; every byte is read before any store at or above its address, so the
// result equals a forward byte copy whenever d <= s or d - s >= 4.
void copy_words_forward(Byte *d, const Byte *s, size_t n) {
    while (n > 0 && !is_word_aligned(d)) {
        *d++ = *s++;
        n--;
    }
    for (; n >= kWordSize; n -= kWordSize, d += kWordSize, s += kWordSize)
        *reinterpret_cast<StoredWord *>(d) = *reinterpret_cast<const LoadedWord *>(s);
    copy_bytes_forward(d, s, n);
}

// The mirror image of copy_words_forward, from the last byte down, exact
// whenever d > s.
void copy_words_backward(Byte *d, const Byte *s, size_t n) {
    while (n > 0 && !is_word_aligned(d + n)) {
        n--;
        d[n] = s[n];
    }
    for (; n >= kWordSize; n -= kWordSize)
        *reinterpret_cast<StoredWord *>(d + n - kWordSize) = *reinterpret_cast<const LoadedWord *>(s + n - kWordSize);
    while (n > 0) {
        n--;
        d[n] = s[n];
    }
}

// A forward byte copy onto a destination 1 to 3 bytes above the source
// repeats the first bytes; word copies would read bytes not yet written.
bool overlaps_closely_above(const void *d, const void *s) {
    uintptr_t gap = reinterpret_cast<uintptr_t>(d) - reinterpret_cast<uintptr_t>(s);
    return gap != 0 && gap < kWordSize;
}

void fill_bytes(Byte *p, Byte value, size_t n) {
    while (n > 0 && !is_word_aligned(p)) {
        *p++ = value;
        n--;
    }
    uint32_t word = value * kByteSpread;
    for (; n >= kWordSize; n -= kWordSize, p += kWordSize) *reinterpret_cast<StoredWord *>(p) = word;
    while (n > 0) {
        *p++ = value;
        n--;
    }
}

// A new heap string holding the first `length` bytes of s and a terminator.
char *duplicate_prefix(const char *s, size_t length) {
    char *copy = static_cast<char *>(malloc(length + 1));
    if (copy == nullptr) return nullptr;
    memcpy(copy, s, length);
    copy[length] = 0;
    return copy;
}

bool is_delimiter(char c, const char *delims) {
    if (delims == nullptr) return false;
    for (; *delims != 0; delims++)
        if (*delims == c) return true;
    return false;
}

}  // namespace

}  // namespace kiv::str

using namespace kiv::str;

extern "C" {

size_t strlen(const char *s) { return length_or_zero(s); }

size_t strnlen(const char *s, size_t max) { return is_low(s) ? 0 : scan_length(s, max); }

int strcmp(const char *a, const char *b) {
    if (a == b) return 0;
    EarlyAnswer early = compare_absent(is_low(a), is_low(b));
    return early.known ? early.result : compare_folded<same_byte>(a, b, kUnbounded);
}

int strncmp(const char *a, const char *b, size_t n) {
    if (n == 0 || a == b) return 0;
    EarlyAnswer early = compare_absent(is_low(a), is_low(b));
    return early.known ? early.result : compare_folded<same_byte>(a, b, n);
}

int strcasecmp(const char *a, const char *b) {
    if (a == nullptr && b == nullptr) return 0;
    EarlyAnswer early = compare_absent(a == nullptr, b == nullptr);
    return early.known ? early.result : compare_folded<fold_ascii>(a, b, kUnbounded);
}

int strncasecmp(const char *a, const char *b, size_t n) {
    if (n == 0 || a == b) return 0;
    EarlyAnswer early = compare_absent(a == nullptr, b == nullptr);
    return early.known ? early.result : compare_folded<fold_ascii>(a, b, n);
}

int memcmp(const void *a, const void *b, size_t n) {
    const Byte *x = static_cast<const Byte *>(a);
    const Byte *y = static_cast<const Byte *>(b);
    for (size_t i = 0; i < n; i++)
        if (x[i] != y[i]) return x[i] - y[i];
    return 0;
}

char *strcpy(char *d, const char *s) {
    if (d == nullptr) return nullptr;
    if (s == nullptr) {
        *d = 0;
        return d;
    }
    return static_cast<char *>(memcpy(d, s, scan_length(s, kUnbounded) + 1));
}

char *strncpy(char *d, const char *s, size_t n) {
    if (d == nullptr || n == 0) return d;
    size_t copied = s == nullptr ? 0 : scan_length(s, n);
    memcpy(d, s, copied);
    memset(d + copied, 0, n - copied);
    return d;
}

// A low destination has length 0 by the length rule, but nothing is ever
// written to a low address: such a destination is returned untouched.
char *strcat(char *d, const char *s) {
    if (d == nullptr) return nullptr;
    if (s == nullptr || is_low(d)) return d;
    memcpy(d + scan_length(d, kUnbounded), s, scan_length(s, kUnbounded) + 1);
    return d;
}

char *strncat(char *d, const char *s, size_t n) {
    if (d == nullptr) return nullptr;
    if (s == nullptr || n == 0 || is_low(d)) return d;
    char *end = d + scan_length(d, kUnbounded);
    size_t copied = scan_length(s, n);
    memcpy(end, s, copied);
    end[copied] = 0;
    return d;
}

char *strchr(const char *s, int c) {
    if (s == nullptr) return nullptr;
    char wanted = static_cast<char>(c);
    for (;; s++) {
        if (*s == wanted) return const_cast<char *>(s);
        if (*s == 0) return nullptr;
    }
}

char *strrchr(const char *s, int c) {
    if (s == nullptr) return nullptr;
    char wanted = static_cast<char>(c);
    const char *last = nullptr;
    for (;; s++) {
        if (*s == wanted) last = s;
        if (*s == 0) return const_cast<char *>(last);
    }
}

char *strstr(const char *haystack, const char *needle) {
    if (haystack == nullptr || needle == nullptr) return nullptr;
    for (const char *start = haystack;; start++) {
        size_t i = 0;
        while (needle[i] != 0 && start[i] == needle[i]) i++;
        if (needle[i] == 0) return const_cast<char *>(start);
        if (*start == 0) return nullptr;
    }
}

void *memcpy(void *d, const void *s, size_t n) {
    Byte *to = static_cast<Byte *>(d);
    const Byte *from = static_cast<const Byte *>(s);
    if (overlaps_closely_above(d, s)) copy_bytes_forward(to, from, n);
    else copy_words_forward(to, from, n);
    return d;
}

void *memmove(void *d, const void *s, size_t n) {
    if (d == s || n == 0) return d;
    Byte *to = static_cast<Byte *>(d);
    const Byte *from = static_cast<const Byte *>(s);
    if (reinterpret_cast<uintptr_t>(d) < reinterpret_cast<uintptr_t>(s)) copy_words_forward(to, from, n);
    else copy_words_backward(to, from, n);
    return d;
}

void *memset(void *p, int c, size_t n) {
    fill_bytes(static_cast<Byte *>(p), static_cast<Byte>(c), n);
    return p;
}

char *strdup(const char *s) {
    if (s == nullptr) return nullptr;
    return duplicate_prefix(s, length_or_zero(s));
}

char *strndup(const char *s, size_t n) {
    if (s == nullptr) return nullptr;
    return duplicate_prefix(s, strnlen(s, n));
}

char *strtok(char *s, const char *delims) {
    static char *s_next = nullptr;
    char *p = s != nullptr ? s : s_next;
    s_next = nullptr;
    if (p == nullptr) return nullptr;
    while (*p != 0 && is_delimiter(*p, delims)) p++;
    if (*p == 0) return nullptr;
    char *token = p;
    while (*p != 0 && !is_delimiter(*p, delims)) p++;
    if (*p != 0) {
        *p = 0;
        s_next = p + 1;
    }
    return token;
}

}  // extern "C"
