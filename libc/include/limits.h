/* The integer limits are the compiler's. Its limits.h goes on to a C
 * library's own unless that one has announced itself; this library
 * announces itself and lets the compiler's stand. The compiler gives the
 * long long limits to C99 and later only; C++ has them too, as on other
 * systems. */
#ifndef KIV_LIMITS_H
#define KIV_LIMITS_H

#define _LIBC_LIMITS_H_
#include_next <limits.h>

#if defined(__cplusplus) && !defined(LLONG_MAX)
#define LLONG_MAX __LONG_LONG_MAX__
#define LLONG_MIN (-LLONG_MAX - 1LL)
#define ULLONG_MAX (LLONG_MAX * 2ULL + 1ULL)
#endif

#endif
