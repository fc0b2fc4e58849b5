// The kit's string.h additions for ported code, in the "C" locale.
#include "internal/text.h"
#include "string.h"

extern "C" {

void *memchr(const void *s, int c, size_t n) {
    return kiv::text::find_in(static_cast<const unsigned char *>(s), static_cast<unsigned char>(c), n);
}

size_t strspn(const char *s, const char *accept) { return kiv::text::span(s, accept, true); }

size_t strcspn(const char *s, const char *reject) { return kiv::text::span(s, reject, false); }

char *strpbrk(const char *s, const char *accept) { return kiv::text::first_of(s, accept); }

// The "C" locale collates in byte order.
int strcoll(const char *a, const char *b) { return strcmp(a, b); }

size_t strxfrm(char *d, const char *s, size_t n) { return kiv::text::transform(d, s, n); }

}  // extern "C"
