/* Opening files through the kernel. */
#ifndef KIV_FCNTL_H
#define KIV_FCNTL_H

#ifdef __cplusplus
extern "C" {
#endif

#define O_RDONLY 0x0
#define O_WRONLY 0x1
#define O_RDWR 0x2
#define O_CREAT 0x40
#define O_EXCL 0x80
#define O_TRUNC 0x200
#define O_APPEND 0x400

/* The third value handed to the kernel is the flags themselves when O_CREAT
 * is set, else 0; no mode argument is read. */
int open(const char *path, int flags, ...);
int creat(const char *path);

#ifdef __cplusplus
}
#endif

#endif
