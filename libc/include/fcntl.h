/* Opening files through the kernel. */
#ifndef KIV_FCNTL_H
#define KIV_FCNTL_H

#include "kiv_open.h"

#ifdef __cplusplus
extern "C" {
#endif

#define O_ACCMODE KIV_O_ACCMODE
#define O_RDONLY KIV_O_RDONLY
#define O_WRONLY KIV_O_WRONLY
#define O_RDWR KIV_O_RDWR
#define O_CREAT KIV_O_CREAT
#define O_EXCL KIV_O_EXCL
#define O_TRUNC KIV_O_TRUNC
#define O_APPEND KIV_O_APPEND

/* The third value handed to the kernel is the flags themselves when O_CREAT
 * is set, else 0; no mode argument is read. */
int open(const char *path, int flags, ...);
int creat(const char *path);

#ifdef __cplusplus
}
#endif

#endif
