/* Calendar time (the kit's extension). kivos has no clock a program can
 * read: time, clock, clock_gettime and timespec_get fail (the first three
 * with -1 and errno ENOSYS, timespec_get with 0). The conversions work; the local time is UTC,
 * and the texts are the "C" locale's. */
#ifndef KIV_TIME_H
#define KIV_TIME_H

#include <stddef.h>

#include "kivos/time_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define CLOCKS_PER_SEC 1000000L
#define TIME_UTC 1
#define CLOCK_REALTIME 0
#define CLOCK_MONOTONIC 1

struct tm {
    int tm_sec;
    int tm_min;
    int tm_hour;
    int tm_mday;
    int tm_mon;
    int tm_year;
    int tm_wday;
    int tm_yday;
    int tm_isdst;
};

struct timespec {
    time_t tv_sec;
    long tv_nsec;
};

clock_t clock(void);
time_t time(time_t *now);
int timespec_get(struct timespec *ts, int base);
int clock_gettime(clockid_t clock_id, struct timespec *ts);
double difftime(time_t end, time_t start);
time_t mktime(struct tm *broken_down);
struct tm *gmtime(const time_t *when);
struct tm *localtime(const time_t *when);
char *asctime(const struct tm *broken_down);
char *ctime(const time_t *when);
size_t strftime(char *buffer, size_t size, const char *format, const struct tm *broken_down);

#ifdef __cplusplus
}
#endif

#endif
