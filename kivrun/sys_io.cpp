// Descriptor calls: console and file I/O, descriptors and pipes.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "guest_io.h"
#include "syscalls.h"

namespace kiv {

namespace {

int32_t as_int(uint32_t value) { return static_cast<int32_t>(value); }

struct OpenFlag {
    uint32_t guest;
    int host;
};
constexpr OpenFlag kOpenFlags[] = {
    {KIV_O_CREAT, O_CREAT}, {KIV_O_EXCL, O_EXCL}, {KIV_O_TRUNC, O_TRUNC}, {KIV_O_APPEND, O_APPEND}};
constexpr uint32_t kAccessModeMask = 0x3;
constexpr int kAccessModes[] = {O_RDONLY, O_WRONLY, O_RDWR};

// Guest open flags to host flags; -1 for bits the kernel does not know.
int host_open_flags(uint32_t guest) {
    uint32_t mode = guest & kAccessModeMask;
    if (mode >= std::size(kAccessModes)) return -1;
    int host = kAccessModes[mode];
    uint32_t known = kAccessModeMask;
    for (const auto &flag : kOpenFlags) {
        known |= flag.guest;
        if (guest & flag.guest) host |= flag.host;
    }
    return (guest & ~known) != 0 ? -1 : host;
}

constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};

}  // namespace

int32_t sys_write(Process &process, const SyscallArgs &args) {
    int fd = process.fds.host(as_int(args[0]));
    if (fd < 0) return process.fail(EBADF);
    auto vectors = guest_buffer(process, args[1], args[2], kAccessRead);
    if (!vectors) return -1;
    // Everything the guest handed over reaches the descriptor: a short host
    // write is continued from the first byte not taken.
    uint64_t done = 0;
    size_t first = 0;
    while (first < vectors->size()) {
        ssize_t wrote = writev(fd, vectors->data() + first, static_cast<int>(vectors->size() - first));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return done > 0 ? static_cast<int32_t>(done) : process.fail(wrote < 0 ? errno : EIO);
        done += static_cast<uint64_t>(wrote);
        size_t left = static_cast<size_t>(wrote);
        while (first < vectors->size() && left >= (*vectors)[first].iov_len) left -= (*vectors)[first++].iov_len;
        if (first < vectors->size()) {
            (*vectors)[first].iov_base = static_cast<uint8_t *>((*vectors)[first].iov_base) + left;
            (*vectors)[first].iov_len -= left;
        }
    }
    return static_cast<int32_t>(done);
}

int32_t sys_read(Process &process, const SyscallArgs &args) {
    int fd = process.fds.host(as_int(args[0]));
    if (fd < 0) return process.fail(EBADF);
    auto vectors = guest_buffer(process, args[1], args[2], kAccessWrite);
    if (!vectors) return -1;
    if (vectors->empty()) return 0;
    if (!wait_readable(process, fd)) return -1;
    ssize_t got;
    do {
        got = readv(fd, vectors->data(), static_cast<int>(vectors->size()));
    } while (got < 0 && errno == EINTR);
    return got < 0 ? process.fail(errno) : static_cast<int32_t>(got);
}

int32_t sys_getkey(Process &process, const SyscallArgs &) {
    int fd = process.fds.host(0);
    if (fd < 0) return process.fail(EBADF);
    if (!wait_readable(process, fd)) return -1;
    uint8_t key;
    ssize_t got;
    do {
        got = ::read(fd, &key, 1);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return process.fail(errno);
    return got == 0 ? -1 : key;
}

int32_t sys_open(Process &process, const SyscallArgs &args) {
    auto path = guest_path(process, args[0]);
    if (!path) return -1;
    int flags = host_open_flags(args[1]);
    if (flags < 0) return process.fail(EINVAL);
    int fd = process.sandbox.open(*path, flags);
    if (fd < 0) return process.fail(errno);
    int32_t guest_fd = process.fds.add(fd);
    return guest_fd < 0 ? process.fail(EMFILE) : guest_fd;
}

int32_t sys_close(Process &process, const SyscallArgs &args) {
    return process.fds.close(as_int(args[0])) ? 0 : process.fail(EBADF);
}

int32_t sys_lseek(Process &process, const SyscallArgs &args) {
    int fd = process.fds.host(as_int(args[0]));
    if (fd < 0) return process.fail(EBADF);
    if (args[2] >= std::size(kWhence)) return process.fail(EINVAL);
    off_t position = ::lseek(fd, as_int(args[1]), kWhence[args[2]]);
    if (position < 0) return process.fail(errno);
    // Offsets are 32-bit signed in the guest.
    return position > INT32_MAX ? process.fail(EOVERFLOW) : static_cast<int32_t>(position);
}

int32_t sys_dup(Process &process, const SyscallArgs &args) {
    int32_t fd = process.fds.dup(as_int(args[0]));
    return fd < 0 ? process.fail(EBADF) : fd;
}

int32_t sys_dup2(Process &process, const SyscallArgs &args) {
    int32_t fd = process.fds.dup2(as_int(args[0]), as_int(args[1]));
    return fd < 0 ? process.fail(EBADF) : fd;
}

int32_t sys_pipe(Process &process, const SyscallArgs &args) {
    if (!process.memory.usable(args[0], 2 * sizeof(int32_t), kAccessWrite)) return process.fail(EFAULT);
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return process.fail(errno);
    int32_t guest[2] = {process.fds.add(ends[0]), -1};
    guest[1] = guest[0] < 0 ? -1 : process.fds.add(ends[1]);
    if (guest[1] < 0) {
        if (guest[0] < 0) ::close(ends[1]);
        else process.fds.close(guest[0]);
        return process.fail(EMFILE);
    }
    process.memory.write(args[0], guest, sizeof guest);
    return 0;
}

int32_t sys_fd_set_nonblock(Process &process, const SyscallArgs &args) {
    int fd = process.fds.host(as_int(args[0]));
    if (fd < 0) return process.fail(EBADF);
    // The console is shared with the host's shell: its mode stays as it is.
    if (!process.fds.owned(as_int(args[0]))) return process.fail(EPERM);
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return process.fail(errno);
    flags = args[1] != 0 ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(fd, F_SETFL, flags) == 0 ? 0 : process.fail(errno);
}

}  // namespace kiv
