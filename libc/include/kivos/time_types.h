/* The time types, shared by time.h and sys/types.h (the kit's extension):
 * 32-bit seconds, as on i386 Linux. */
#ifndef KIVOS_TIME_TYPES_H
#define KIVOS_TIME_TYPES_H

typedef long time_t;
typedef long clock_t;
typedef int clockid_t;

#endif
