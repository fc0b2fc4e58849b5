#include "unistd.h"

#include "fcntl.h"
#include "internal/syscall.h"
#include "kiv_spawn.h"

using kiv::sys::as_bool;
using kiv::sys::call0;
using kiv::sys::call1;
using kiv::sys::call3;
using kiv::sys::clamp_count;
using kiv::sys::word;

namespace {

constexpr uint32_t kMicrosecondsPerSecond = 1000000u;
// The longest sleep whose microseconds still fit in one 32-bit kernel request.
constexpr uint32_t kMaxSecondsPerRequest = 0xffffffffu / kMicrosecondsPerSecond;
static_assert(kMaxSecondsPerRequest == 4294);

int path_call(kiv_syscall_number number, const char *path) {
    if (path == nullptr) return -1;
    return call1(number, word(path));
}

}  // namespace

extern "C" {

int write(int fd, const void *buf, size_t count) {
    if (buf == nullptr) return -1;
    return call3(KIV_SYS_write, static_cast<uint32_t>(fd), word(buf), clamp_count(count));
}

int read(int fd, void *buf, size_t count) {
    if (buf == nullptr) return -1;
    return call3(KIV_SYS_read, static_cast<uint32_t>(fd), word(buf), clamp_count(count));
}

void _exit(int status) {
    call1(KIV_SYS_exit, static_cast<uint32_t>(status));
    // The kernel never comes back; should it, stay here without faulting
    // (hlt is privileged in user mode).
    for (;;) asm volatile("pause" ::: "memory");
}

int close(int fd) { return call1(KIV_SYS_close, static_cast<uint32_t>(fd)); }

int getkey(void) { return call0(KIV_SYS_getkey); }

int writefile(const char *path, const void *buf, size_t count) {
    if (path == nullptr || buf == nullptr) return -1;
    return call3(KIV_SYS_writefile, word(path), word(buf), clamp_count(count));
}

int usleep(unsigned int usec) {
    call1(KIV_SYS_usleep, usec);
    return 0;
}

// One request per 4294 seconds: the kernel takes microseconds in 32 bits.
unsigned int sleep(unsigned int sec) {
    while (sec > kMaxSecondsPerRequest) {
        call1(KIV_SYS_usleep, kMaxSecondsPerRequest * kMicrosecondsPerSecond);
        sec -= kMaxSecondsPerRequest;
    }
    call1(KIV_SYS_usleep, sec * kMicrosecondsPerSecond);
    return 0;
}

int mkdir(const char *path) { return path_call(KIV_SYS_mkdir, path); }
int unlink(const char *path) { return path_call(KIV_SYS_unlink, path); }
int rmdir(const char *path) { return path_call(KIV_SYS_rmdir, path); }
int chdir(const char *path) { return path_call(KIV_SYS_chdir, path); }
int mkfifo(const char *path) { return path_call(KIV_SYS_mkfifo, path); }
int kivfs_stream_begin(const char *path) { return path_call(KIV_SYS_kivfs_stream_begin, path); }

int getcwd(char *buf, size_t size) {
    if (buf == nullptr || size == 0) return -1;
    return call3(KIV_SYS_getcwd, word(buf), clamp_count(size), 0);
}

// Whether the file can be opened for reading; mode is not examined.
int access(const char *path, int mode) {
    (void)mode;
    int fd = open(path, O_RDONLY);
    if (fd < 0) return -1;
    call1(KIV_SYS_close, static_cast<uint32_t>(fd));
    return 0;
}

int lseek(int fd, int offset, int whence) {
    return call3(KIV_SYS_lseek, static_cast<uint32_t>(fd), static_cast<uint32_t>(offset),
                 static_cast<uint32_t>(whence));
}

int kivfs_stream_write(int handle, const void *buf, size_t count) {
    if (buf == nullptr) return -1;
    return call3(KIV_SYS_kivfs_stream_write, static_cast<uint32_t>(handle), word(buf), clamp_count(count));
}

int kivfs_stream_end(int handle) { return call1(KIV_SYS_kivfs_stream_end, static_cast<uint32_t>(handle)); }

int munmap(void *addr, size_t length) { return call3(KIV_SYS_munmap, word(addr), length, 0); }

int pipe(int fds[2]) {
    if (fds == nullptr) return -1;
    return call1(KIV_SYS_pipe, word(fds));
}

int dup(int fd) { return call1(KIV_SYS_dup, static_cast<uint32_t>(fd)); }

int dup2(int oldfd, int newfd) {
    return call3(KIV_SYS_dup2, static_cast<uint32_t>(oldfd), static_cast<uint32_t>(newfd), 0);
}

int fd_set_inherit(int on) { return call1(KIV_SYS_fd_set_inherit, as_bool(on)); }

int fd_set_stdio(int in, int out, int err) {
    return call3(KIV_SYS_fd_set_stdio, static_cast<uint32_t>(in), static_cast<uint32_t>(out),
                 static_cast<uint32_t>(err));
}

int fd_set_nonblock(int fd, int on) {
    return call3(KIV_SYS_fd_set_nonblock, static_cast<uint32_t>(fd), as_bool(on), 0);
}

int spawn(const char *path, char *const argv[], int argc) {
    if (path == nullptr || argc < 0) return -1;
    return call3(KIV_SYS_spawn, word(path), word(argv), static_cast<uint32_t>(argc));
}

int waitpid(int pid, int *status, int options) {
    return call3(KIV_SYS_waitpid, static_cast<uint32_t>(pid), word(status), static_cast<uint32_t>(options));
}

int spawn_ex(const char *path, char *const argv[], int argc, int child_stdin, int child_stdout, int child_stderr,
             int inherit_all) {
    if (path == nullptr || argc < 0) return -1;
    // Built on the caller's stack: the kernel reads it during the call.
    KivSpawnBlock block = {word(path), word(argv), argc, child_stdin, child_stdout, child_stderr, as_bool(inherit_all)};
    return call1(KIV_SYS_spawn_ex, word(&block));
}

}  // extern "C"

// mmap takes six arguments; the sixth travels in EBP, which is also the
// caller's frame pointer, so it is saved and restored around the call along
// with the callee-saved EBX, ESI and EDI.
extern "C" __attribute__((naked)) void *mmap(void *, size_t, int, int, int, int) {
    asm volatile(
        "pushl %%ebp\n\t"
        "pushl %%ebx\n\t"
        "pushl %%esi\n\t"
        "pushl %%edi\n\t"
        "movl 24(%%esp), %%ecx\n\t"
        "testl %%ecx, %%ecx\n\t"
        "jz 1f\n\t"
        "movl 20(%%esp), %%ebx\n\t"
        "movl 28(%%esp), %%edx\n\t"
        "movl 32(%%esp), %%esi\n\t"
        "movl 36(%%esp), %%edi\n\t"
        "movl 40(%%esp), %%ebp\n\t"
        "movl $%c0, %%eax\n\t"
        "int %1\n\t"
        "jmp 2f\n"
        "1:\n\t"
        "movl $-1, %%eax\n"
        "2:\n\t"
        "popl %%edi\n\t"
        "popl %%esi\n\t"
        "popl %%ebx\n\t"
        "popl %%ebp\n\t"
        "ret"
        :
        : "i"(KIV_SYS_mmap), "i"(KIV_SYSCALL_VECTOR));
}
