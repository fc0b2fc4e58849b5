/* Byte strings and memory. Addresses below 4096 count as null for the
 * length and comparison functions; comparisons return byte differences. */
#ifndef KIV_STRING_H
#define KIV_STRING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

size_t strlen(const char *s);
size_t strnlen(const char *s, size_t max);
int strcmp(const char *a, const char *b);
int strncmp(const char *a, const char *b, size_t n);
char *strcpy(char *d, const char *s);
char *strncpy(char *d, const char *s, size_t n);
char *strcat(char *d, const char *s);
char *strncat(char *d, const char *s, size_t n);
char *strchr(const char *s, int c);
char *strrchr(const char *s, int c);
char *strstr(const char *haystack, const char *needle);
void *memcpy(void *d, const void *s, size_t n);
void *memmove(void *d, const void *s, size_t n);
void *memset(void *p, int c, size_t n);
int memcmp(const void *a, const void *b, size_t n);
char *strdup(const char *s);
char *strndup(const char *s, size_t n);
int strcasecmp(const char *a, const char *b);
int strncasecmp(const char *a, const char *b, size_t n);
char *strtok(char *s, const char *delims);
const char *strerror(int code);

/* The kit's extensions for ported code. Unlike the functions above, these
 * take no null pointers. strcoll and strxfrm know the "C" locale only:
 * strcoll compares as strcmp, strxfrm copies. */
void *memchr(const void *s, int c, size_t n);
size_t strspn(const char *s, const char *accept);
size_t strcspn(const char *s, const char *reject);
char *strpbrk(const char *s, const char *accept);
int strcoll(const char *a, const char *b);
size_t strxfrm(char *d, const char *s, size_t n);

#ifdef __cplusplus
}
#endif

#endif
