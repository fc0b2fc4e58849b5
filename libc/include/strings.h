/* POSIX's home of the case-blind comparisons (the kit's extension); they
 * are string.h's. */
#ifndef KIV_STRINGS_H
#define KIV_STRINGS_H

#include "string.h"

#endif
