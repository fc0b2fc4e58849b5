/* The kernel's system calls: one row per call, shared by the runtime library
 * (call numbers), the stand-in kernel (dispatch) and its trace (names and
 * argument kinds). Valid C and C++.
 *
 * Columns: number, name, then one kind per argument the kernel reads.
 * The argument kinds only matter to the host, which defines them; guest code
 * expands the rows without them. */
#ifndef KIV_SYSCALLS_H
#define KIV_SYSCALLS_H

#define KIV_SYSCALLS(X)                                              \
    X(1, write, FD, BUF_IN, COUNT)                                   \
    X(2, exit, INT)                                                  \
    X(3, read, FD, BUF_OUT, COUNT)                                   \
    X(4, open, PATH, OPEN_FLAGS, HEX)                                \
    X(5, close, FD)                                                  \
    X(6, getkey)                                                     \
    X(21, writefile, PATH, BUF_IN, COUNT)                            \
    X(22, usleep, UINT)                                              \
    X(49, mkdir, PATH)                                               \
    X(50, unlink, PATH)                                              \
    X(51, rmdir, PATH)                                               \
    X(52, getcwd, BUF_OUT_STR, COUNT, INT)                           \
    X(53, kivfs_stream_begin, PATH)                                  \
    X(54, kivfs_stream_write, FD, BUF_IN, COUNT)                     \
    X(55, kivfs_stream_end, FD)                                      \
    X(71, nic_query, INT, INT, NIC_INFO)                             \
    X(95, chdir, PATH)                                               \
    X(98, mmap, PTR, UINT, HEX, HEX, FD, INT)                        \
    X(99, munmap, PTR, UINT, INT)                                    \
    X(110, lseek, FD, INT, INT)                                      \
    X(124, pipe, FD_PAIR)                                            \
    X(125, mkfifo, PATH)                                             \
    X(126, dup, FD)                                                  \
    X(127, dup2, FD, FD, INT)                                        \
    X(128, fd_set_inherit, INT)                                      \
    X(129, fd_set_stdio, FD, FD, FD)                                 \
    X(130, fd_set_nonblock, FD, INT, INT)                            \
    X(131, spawn, PATH, ARGV, INT)                                   \
    X(132, waitpid, INT, PTR, HEX)                                   \
    X(150, spawn_ex, SPAWN_BLOCK)

#define KIV_SYS_ENUMERATOR(number, name, ...) KIV_SYS_##name = number,
enum kiv_syscall_number { KIV_SYSCALLS(KIV_SYS_ENUMERATOR) };
#undef KIV_SYS_ENUMERATOR

/* The software interrupt that enters the kernel. */
#define KIV_SYSCALL_VECTOR 0x80

/* open() flags understood by the kernel. */
#define KIV_O_RDONLY 0x0
#define KIV_O_WRONLY 0x1
#define KIV_O_RDWR 0x2
#define KIV_O_CREAT 0x40
#define KIV_O_EXCL 0x80
#define KIV_O_TRUNC 0x200
#define KIV_O_APPEND 0x400

#endif
