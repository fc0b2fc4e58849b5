/* Wide characters and strings (the kit's extension), for the "C" locale,
 * where every byte is one character: byte b is the wide character b, and a
 * wide character above 255 has no byte (EILSEQ). No conversion keeps state.
 *
 * The wide string functions, the conversions and the wide stream functions
 * built on single characters work; wcstol and its relatives follow ISO C
 * (signs, ERANGE), as strtoll does. The wide formatted input and output
 * (wprintf, swprintf, wscanf and their relatives) and wcsftime have no
 * engine: they fail with -1 (wcsftime 0) and errno ENOSYS. ungetwc fails
 * like ungetc. */
#ifndef KIV_WCHAR_H
#define KIV_WCHAR_H

#include <stdarg.h>
#include <stddef.h>

#include "kivos/wide_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifndef WCHAR_MIN
#define WCHAR_MIN __WCHAR_MIN__
#define WCHAR_MAX __WCHAR_MAX__
#endif

typedef struct kiv_mbstate {
    unsigned long unused;
} mbstate_t;

struct kiv_file;
struct tm;

size_t wcslen(const wchar_t *s);
int wcscmp(const wchar_t *a, const wchar_t *b);
int wcsncmp(const wchar_t *a, const wchar_t *b, size_t n);
int wcscoll(const wchar_t *a, const wchar_t *b);
size_t wcsxfrm(wchar_t *d, const wchar_t *s, size_t n);
wchar_t *wcscpy(wchar_t *d, const wchar_t *s);
wchar_t *wcsncpy(wchar_t *d, const wchar_t *s, size_t n);
wchar_t *wcscat(wchar_t *d, const wchar_t *s);
wchar_t *wcsncat(wchar_t *d, const wchar_t *s, size_t n);
wchar_t *wcschr(const wchar_t *s, wchar_t c);
wchar_t *wcsrchr(const wchar_t *s, wchar_t c);
wchar_t *wcsstr(const wchar_t *haystack, const wchar_t *needle);
wchar_t *wcspbrk(const wchar_t *s, const wchar_t *set);
size_t wcsspn(const wchar_t *s, const wchar_t *set);
size_t wcscspn(const wchar_t *s, const wchar_t *set);
wchar_t *wcstok(wchar_t *s, const wchar_t *delims, wchar_t **saved);
wchar_t *wmemchr(const wchar_t *s, wchar_t c, size_t n);
int wmemcmp(const wchar_t *a, const wchar_t *b, size_t n);
wchar_t *wmemcpy(wchar_t *d, const wchar_t *s, size_t n);
wchar_t *wmemmove(wchar_t *d, const wchar_t *s, size_t n);
wchar_t *wmemset(wchar_t *d, wchar_t c, size_t n);

long wcstol(const wchar_t *s, wchar_t **end, int base);
unsigned long wcstoul(const wchar_t *s, wchar_t **end, int base);
__extension__ long long wcstoll(const wchar_t *s, wchar_t **end, int base);
__extension__ unsigned long long wcstoull(const wchar_t *s, wchar_t **end, int base);
double wcstod(const wchar_t *s, wchar_t **end);
float wcstof(const wchar_t *s, wchar_t **end);
long double wcstold(const wchar_t *s, wchar_t **end);

wint_t btowc(int c);
int wctob(wint_t wc);
int mbsinit(const mbstate_t *state);
size_t mbrlen(const char *s, size_t n, mbstate_t *state);
size_t mbrtowc(wchar_t *wc, const char *s, size_t n, mbstate_t *state);
size_t wcrtomb(char *s, wchar_t wc, mbstate_t *state);
size_t mbsrtowcs(wchar_t *d, const char **s, size_t n, mbstate_t *state);
size_t wcsrtombs(char *d, const wchar_t **s, size_t n, mbstate_t *state);

wint_t fgetwc(struct kiv_file *stream);
wint_t getwc(struct kiv_file *stream);
wint_t getwchar(void);
wchar_t *fgetws(wchar_t *s, int n, struct kiv_file *stream);
wint_t fputwc(wchar_t wc, struct kiv_file *stream);
wint_t putwc(wchar_t wc, struct kiv_file *stream);
wint_t putwchar(wchar_t wc);
int fputws(const wchar_t *s, struct kiv_file *stream);
wint_t ungetwc(wint_t wc, struct kiv_file *stream);
int fwide(struct kiv_file *stream, int mode);

int fwprintf(struct kiv_file *stream, const wchar_t *format, ...);
int wprintf(const wchar_t *format, ...);
int swprintf(wchar_t *s, size_t n, const wchar_t *format, ...);
int vfwprintf(struct kiv_file *stream, const wchar_t *format, va_list args);
int vwprintf(const wchar_t *format, va_list args);
int vswprintf(wchar_t *s, size_t n, const wchar_t *format, va_list args);
int fwscanf(struct kiv_file *stream, const wchar_t *format, ...);
int wscanf(const wchar_t *format, ...);
int swscanf(const wchar_t *s, const wchar_t *format, ...);
int vfwscanf(struct kiv_file *stream, const wchar_t *format, va_list args);
int vwscanf(const wchar_t *format, va_list args);
int vswscanf(const wchar_t *s, const wchar_t *format, va_list args);
size_t wcsftime(wchar_t *s, size_t n, const wchar_t *format, const struct tm *broken_down);

#ifdef __cplusplus
}
#endif

#endif
