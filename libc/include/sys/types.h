/* POSIX's system data types (the kit's extension), as wide as on i386
 * Linux. The kernel's calls take 32-bit offsets. */
#ifndef KIV_SYS_TYPES_H
#define KIV_SYS_TYPES_H

#include <stddef.h>

#include "kivos/time_types.h"

typedef int ssize_t;
typedef long off_t;
typedef int pid_t;
typedef unsigned int mode_t;
typedef unsigned int uid_t;
typedef unsigned int gid_t;
typedef unsigned int id_t;
typedef unsigned long ino_t;
typedef unsigned int nlink_t;
__extension__ typedef unsigned long long dev_t;
typedef long blksize_t;
typedef long blkcnt_t;
typedef unsigned int useconds_t;
typedef long suseconds_t;

#endif
