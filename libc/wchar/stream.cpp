// Wide characters on the byte streams: each wide character is its byte
// (see convert.cpp). Formatted wide input and output have no engine here
// and fail with ENOSYS; streams have no orientation.
#include "errno.h"
#include "stdio.h"
#include "wchar.h"

namespace kiv::wide {
namespace {

int unsupported() {
    errno = ENOSYS;
    return -1;
}

}  // namespace
}  // namespace kiv::wide

using kiv::wide::unsupported;

extern "C" {

wint_t fgetwc(FILE *stream) { return btowc(fgetc(stream)); }

wint_t getwc(FILE *stream) { return fgetwc(stream); }

wint_t getwchar(void) { return fgetwc(stdin); }

wint_t fputwc(wchar_t wc, FILE *stream) {
    int byte = wctob(static_cast<wint_t>(wc));
    if (byte == EOF) {
        errno = EILSEQ;
        return WEOF;
    }
    return fputc(byte, stream) == EOF ? WEOF : static_cast<wint_t>(wc);
}

wint_t putwc(wchar_t wc, FILE *stream) { return fputwc(wc, stream); }

wint_t putwchar(wchar_t wc) { return fputwc(wc, stdout); }

// Like fgets: up to n - 1 characters, a newline ending the line is kept.
wchar_t *fgetws(wchar_t *s, int n, FILE *stream) {
    if (s == nullptr || n <= 0) return nullptr;
    int stored = 0;
    while (stored < n - 1) {
        wint_t wc = fgetwc(stream);
        if (wc == WEOF) {
            if (stored == 0) return nullptr;
            break;
        }
        s[stored++] = static_cast<wchar_t>(wc);
        if (wc == L'\n') break;
    }
    s[stored] = 0;
    return s;
}

int fputws(const wchar_t *s, FILE *stream) {
    for (; *s != 0; s++)
        if (fputwc(*s, stream) == WEOF) return -1;
    return 0;
}

wint_t ungetwc(wint_t, FILE *) { return WEOF; }

int fwide(FILE *, int) { return 0; }

int fwprintf(FILE *, const wchar_t *, ...) { return unsupported(); }
int wprintf(const wchar_t *, ...) { return unsupported(); }
int swprintf(wchar_t *, size_t, const wchar_t *, ...) { return unsupported(); }
int vfwprintf(FILE *, const wchar_t *, va_list) { return unsupported(); }
int vwprintf(const wchar_t *, va_list) { return unsupported(); }
int vswprintf(wchar_t *, size_t, const wchar_t *, va_list) { return unsupported(); }
int fwscanf(FILE *, const wchar_t *, ...) { return unsupported(); }
int wscanf(const wchar_t *, ...) { return unsupported(); }
int swscanf(const wchar_t *, const wchar_t *, ...) { return unsupported(); }
int vfwscanf(FILE *, const wchar_t *, va_list) { return unsupported(); }
int vwscanf(const wchar_t *, va_list) { return unsupported(); }
int vswscanf(const wchar_t *, const wchar_t *, va_list) { return unsupported(); }

size_t wcsftime(wchar_t *, size_t, const wchar_t *, const struct tm *) {
    errno = ENOSYS;
    return 0;
}

}  // extern "C"
