/* A system call by number (the kit's extension): syscall(number, ...)
 * passes up to five 32-bit arguments to the kivos kernel call `number` (see
 * kiv_syscalls.h) and answers its result, like the wrappers of unistd.h.
 * The Linux names ported code asks for have no kivos call: they are -1,
 * which syscall answers with -1 and errno ENOSYS. g++'s C++ library waits on
 * atomics through SYS_futex. */
#ifndef KIV_SYSCALL_H
#define KIV_SYSCALL_H

#ifdef __cplusplus
extern "C" {
#endif

#define SYS_futex (-1)

long syscall(long number, ...);

#ifdef __cplusplus
}
#endif

#endif
