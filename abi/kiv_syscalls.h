/* The kernel's system calls: one row per call, shared by the runtime library
 * (call numbers), the stand-in kernel (dispatch) and its trace (names and
 * argument kinds). Valid C and C++.
 *
 * Columns: number, name, how the trace shows the result (SIGNED: a signed
 * number, ADDRESS: an address unless the call failed), the classes a trace
 * or an injection can choose the call by (strace's %file, %process, %memory
 * and %desc, and this kernel's %console and %nic), then one kind per
 * argument the kernel reads (the positions a wrapper only fills with 0 have
 * none). The classes and kinds only matter to the host, which defines them;
 * guest code expands the rows without them. */
#ifndef KIV_SYSCALLS_H
#define KIV_SYSCALLS_H

#define KIV_SYSCALLS(X)                                                             \
    X(1, write, SIGNED, (console, desc), FD, BUF_IN, COUNT)                         \
    X(2, exit, SIGNED, (process), INT)                                              \
    X(3, read, SIGNED, (console, desc), FD, BUF_OUT, COUNT)                         \
    X(4, open, SIGNED, (file), PATH, OPEN_FLAGS, OPEN_THIRD)                        \
    X(5, close, SIGNED, (desc), FD)                                                 \
    X(6, getkey, SIGNED, (console))                                                 \
    X(21, writefile, SIGNED, (file), PATH, BUF_IN, COUNT)                           \
    X(22, usleep, SIGNED, (), UINT)                                                 \
    X(49, mkdir, SIGNED, (file), PATH)                                              \
    X(50, unlink, SIGNED, (file), PATH)                                             \
    X(51, rmdir, SIGNED, (file), PATH)                                              \
    X(52, getcwd, SIGNED, (file), BUF_OUT_STR, COUNT)                               \
    X(53, kivfs_stream_begin, SIGNED, (file), PATH)                                 \
    X(54, kivfs_stream_write, SIGNED, (desc), FD, BUF_IN, COUNT)                    \
    X(55, kivfs_stream_end, SIGNED, (desc), FD)                                     \
    X(71, nic_query, SIGNED, (nic), INT, INT, NIC_INFO)                             \
    X(95, chdir, SIGNED, (file), PATH)                                              \
    X(98, mmap, ADDRESS, (memory, desc), PTR, UINT, MMAP_PROT, MMAP_FLAGS, FD, INT) \
    X(99, munmap, SIGNED, (memory), PTR, UINT)                                      \
    X(110, lseek, SIGNED, (desc), FD, INT, WHENCE)                                  \
    X(124, pipe, SIGNED, (), FD_PAIR)                                               \
    X(125, mkfifo, SIGNED, (file), PATH)                                            \
    X(126, dup, SIGNED, (desc), FD)                                                 \
    X(127, dup2, SIGNED, (desc), FD, FD)                                            \
    X(128, fd_set_inherit, SIGNED, (), INT)                                         \
    X(129, fd_set_stdio, SIGNED, (desc), FD, FD, FD)                                \
    X(130, fd_set_nonblock, SIGNED, (desc), FD, INT)                                \
    X(131, spawn, SIGNED, (file, process), PATH, ARGV, INT)                         \
    X(132, waitpid, SIGNED, (process), INT, WAIT_STATUS, HEX)                       \
    X(150, spawn_ex, SIGNED, (file, process), SPAWN_BLOCK)

#define KIV_SYS_ENUMERATOR(number, name, ...) KIV_SYS_##name = number,
enum kiv_syscall_number { KIV_SYSCALLS(KIV_SYS_ENUMERATOR) };
#undef KIV_SYS_ENUMERATOR

/* The longest count a read or write takes: its result must stay a
 * non-negative 32-bit number. The library clamps larger counts to it; the
 * kernel refuses them (EINVAL). */
#define KIV_MAX_TRANSFER 0x7fffffffu

/* The software interrupt that enters the kernel. */
#define KIV_SYSCALL_VECTOR 0x80

#endif
