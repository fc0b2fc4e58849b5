/* The process-wide error number. Only the heap (ENOMEM) and the
 * mathematical functions of libm (EDOM, ERANGE) write it. */
#ifndef KIV_ERRNO_H
#define KIV_ERRNO_H

#ifdef __cplusplus
extern "C" {
#endif

extern int errno;

#define ENOENT 2
#define ENOMEM 12
#define EINVAL 22
#define EDOM 33
#define ERANGE 34
#define ENOSYS 38

#ifdef __cplusplus
}
#endif

#endif
