/* The open() flags the kernel understands: an access mode in the low two
 * bits, the other flags one bit each. Valid C and C++. */
#ifndef KIV_OPEN_H
#define KIV_OPEN_H

#define KIV_O_ACCMODE 0x3
#define KIV_O_RDONLY 0x0
#define KIV_O_WRONLY 0x1
#define KIV_O_RDWR 0x2
#define KIV_O_CREAT 0x40
#define KIV_O_EXCL 0x80
#define KIV_O_TRUNC 0x200
#define KIV_O_APPEND 0x400

#endif
