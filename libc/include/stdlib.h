/* Heap, number conversion, process control and random numbers. */
#ifndef KIV_STDLIB_H
#define KIV_STDLIB_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void *malloc(size_t size);
void *calloc(size_t count, size_t size);
void *realloc(void *old, size_t size);
void free(void *block);

int atoi(const char *s);
long atol(const char *s);
unsigned long strtoul(const char *s, char **end, int base);
long strtol(const char *s, char **end, int base);
long double strtold(const char *s, char **end);
double strtod(const char *s, char **end);
int abs(int v);
long labs(long v);

__attribute__((noreturn)) void exit(int status);
__attribute__((noreturn)) void abort(void);
int atexit(void (*handler)(void));
char *getenv(const char *name);

#define RAND_MAX 32767
void srand(unsigned int seed);
int rand(void);

#define EXIT_SUCCESS 0
#define EXIT_FAILURE 1

/* The kit's extensions for ported code. The conversions below follow ISO C
 * (signs, ERANGE and saturation, unlike strtol above); strtof also reads
 * inf, nan and hexadecimal forms, and is correctly rounded except within
 * about 10^-19 of a halfway point. A "C" locale's multibyte text is single bytes (see
 * wchar.h). kivos cannot run a command: system fails (-1, errno ENOSYS),
 * and system(NULL) answers 0. at_quick_exit is accepted like atexit and its
 * handler never runs. aligned_alloc and posix_memalign give malloc's block when it meets
 * the alignment, else fail with EINVAL; the mmap heap (kivos-cc --heap=mmap)
 * aligns its blocks as asked. */
typedef struct {
    int quot;
    int rem;
} div_t;
typedef struct {
    long quot;
    long rem;
} ldiv_t;
__extension__ typedef struct {
    long long quot;
    long long rem;
} lldiv_t;

#define MB_CUR_MAX ((size_t)1)

div_t div(int numerator, int denominator);
ldiv_t ldiv(long numerator, long denominator);
__extension__ lldiv_t lldiv(long long numerator, long long denominator);
__extension__ long long llabs(long long v);
__extension__ long long atoll(const char *s);
__extension__ long long strtoll(const char *s, char **end, int base);
__extension__ unsigned long long strtoull(const char *s, char **end, int base);
float strtof(const char *s, char **end);
double atof(const char *s);

void qsort(void *base, size_t count, size_t size, int (*compare)(const void *, const void *));
void *bsearch(const void *key, const void *base, size_t count, size_t size, int (*compare)(const void *, const void *));

void *aligned_alloc(size_t alignment, size_t size);
int posix_memalign(void **result, size_t alignment, size_t size);
__attribute__((noreturn)) void _Exit(int status);
__attribute__((noreturn)) void quick_exit(int status);
int at_quick_exit(void (*handler)(void));
int system(const char *command);

int mblen(const char *s, size_t n);
int mbtowc(wchar_t *wc, const char *s, size_t n);
int wctomb(char *s, wchar_t wc);
size_t mbstowcs(wchar_t *d, const char *s, size_t n);
size_t wcstombs(char *d, const wchar_t *s, size_t n);

#ifdef __cplusplus
}
#endif

#endif
