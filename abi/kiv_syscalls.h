/* The kernel's system calls: one row per call, shared by the runtime library
 * (call numbers), the stand-in kernel (dispatch) and its trace (names and
 * argument kinds). Valid C and C++.
 *
 * Columns: number, name, how the trace shows the result (SIGNED: a signed
 * number, ADDRESS: an address unless the call failed), then one kind per
 * argument the kernel reads (the positions a wrapper only fills with 0 have
 * none). The kinds only matter to the host, which
 * defines them; guest code expands the rows without them. */
#ifndef KIV_SYSCALLS_H
#define KIV_SYSCALLS_H

#define KIV_SYSCALLS(X)                                              \
    X(1, write, SIGNED, FD, BUF_IN, COUNT)                           \
    X(2, exit, SIGNED, INT)                                          \
    X(3, read, SIGNED, FD, BUF_OUT, COUNT)                           \
    X(4, open, SIGNED, PATH, OPEN_FLAGS, OPEN_THIRD)                 \
    X(5, close, SIGNED, FD)                                          \
    X(6, getkey, SIGNED)                                             \
    X(21, writefile, SIGNED, PATH, BUF_IN, COUNT)                    \
    X(22, usleep, SIGNED, UINT)                                      \
    X(49, mkdir, SIGNED, PATH)                                       \
    X(50, unlink, SIGNED, PATH)                                      \
    X(51, rmdir, SIGNED, PATH)                                       \
    X(52, getcwd, SIGNED, BUF_OUT_STR, COUNT)                        \
    X(53, kivfs_stream_begin, SIGNED, PATH)                          \
    X(54, kivfs_stream_write, SIGNED, FD, BUF_IN, COUNT)             \
    X(55, kivfs_stream_end, SIGNED, FD)                              \
    X(71, nic_query, SIGNED, INT, INT, NIC_INFO)                     \
    X(95, chdir, SIGNED, PATH)                                       \
    X(98, mmap, ADDRESS, PTR, UINT, MMAP_PROT, MMAP_FLAGS, FD, INT)  \
    X(99, munmap, SIGNED, PTR, UINT)                                 \
    X(110, lseek, SIGNED, FD, INT, WHENCE)                           \
    X(124, pipe, SIGNED, FD_PAIR)                                    \
    X(125, mkfifo, SIGNED, PATH)                                     \
    X(126, dup, SIGNED, FD)                                          \
    X(127, dup2, SIGNED, FD, FD)                                     \
    X(128, fd_set_inherit, SIGNED, INT)                              \
    X(129, fd_set_stdio, SIGNED, FD, FD, FD)                         \
    X(130, fd_set_nonblock, SIGNED, FD, INT)                         \
    X(131, spawn, SIGNED, PATH, ARGV, INT)                           \
    X(132, waitpid, SIGNED, INT, WAIT_STATUS, HEX)                   \
    X(150, spawn_ex, SIGNED, SPAWN_BLOCK)

#define KIV_SYS_ENUMERATOR(number, name, ...) KIV_SYS_##name = number,
enum kiv_syscall_number { KIV_SYSCALLS(KIV_SYS_ENUMERATOR) };
#undef KIV_SYS_ENUMERATOR

/* The software interrupt that enters the kernel. */
#define KIV_SYSCALL_VECTOR 0x80

#endif
