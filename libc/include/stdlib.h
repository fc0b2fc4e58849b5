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

/* The kit's own, defined by the heap of kivos-cc --heap=mmap only. */
void *aligned_alloc(size_t alignment, size_t size);
int posix_memalign(void **result, size_t alignment, size_t size);

#ifdef __cplusplus
}
#endif

#endif
