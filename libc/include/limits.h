/* The integer limits are the compiler's. Its limits.h goes on to a C
 * library's own unless that one has announced itself; this library has
 * nothing to add, so it announces itself and lets the compiler's stand. */
#ifndef KIV_LIMITS_H
#define KIV_LIMITS_H

#define _LIBC_LIMITS_H_
#include_next <limits.h>

#endif
