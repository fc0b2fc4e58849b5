/* The exact-width integers are the compiler's: stdint-gcc.h, which its own
 * stdint.h reads in a freestanding build. In a hosted build (a user's
 * program through the kit's drivers) the compiler's stdint.h hands over to
 * the C library's, which is this one. */
#ifndef KIV_STDINT_H
#define KIV_STDINT_H

#include <stdint-gcc.h>

#endif
