// Descriptor calls: console and file I/O, descriptors and pipes.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "os/call_args.h"
#include "os/guest_io.h"
#include "os/open_flags.h"
#include "os/syscalls.h"

namespace kiv {

namespace {

// Guest open flags to host flags; -1 for bits the kernel does not know.
int host_open_flags(uint32_t guest) {
    uint32_t mode = guest & KIV_O_ACCMODE;
    if (mode >= std::size(kAccessModes)) return -1;
    int host = static_cast<int>(kAccessModes[mode].host);
    uint32_t known = KIV_O_ACCMODE;
    for (const auto &flag : kOpenFlags) {
        known |= flag.kivos;
        if (guest & flag.kivos) host |= static_cast<int>(flag.host);
    }
    return (guest & ~known) != 0 ? -1 : host;
}

}  // namespace

namespace {

// One host write of at most `length` bytes: how many it took, or -1 with
// `error` set. A descriptor that may wait is written when it is ready, at
// most PIPE_BUF bytes at a time (which a ready pipe takes whole), so the
// host never waits where a stopping run cannot interrupt it.
ssize_t write_some(const Process &process, const FdTable::Descriptor &descriptor, const uint8_t *bytes, size_t length,
                   int &error) {
    for (;;) {
        if (descriptor.may_wait) {
            if ((error = wait_ready(process, descriptor, POLLOUT)) != 0) return -1;
            length = std::min<size_t>(length, PIPE_BUF);
        }
        ssize_t wrote = ::write(descriptor.host_fd, bytes, length);
        if (wrote > 0) return wrote;
        if (wrote < 0 && (errno == EINTR || (errno == EAGAIN && descriptor.may_wait))) continue;
        error = wrote < 0 ? errno : EIO;
        return -1;
    }
}

// A read's or write's descriptor and guest bytes, or the error that
// refuses the call before anything is done.
struct Transfer {
    const FdTable::Descriptor *descriptor = nullptr;
    std::span<uint8_t> bytes;
    int error = 0;
};

template <uint32_t Number> Transfer transfer_of(Process &process, const CallArgs<Number> &args) {
    constexpr bool to_guest = properties(call_row(Number).kinds[1]).direction == Direction::Out;
    if (args.template number<2>() > KIV_MAX_TRANSFER) return {.error = EINVAL};
    const FdTable::Descriptor *descriptor = process.fds.find(args.template descriptor<0>());
    if (descriptor == nullptr || !(to_guest ? descriptor->readable : descriptor->writable)) return {.error = EBADF};
    auto bytes = args.template bytes<1>();
    if (!bytes) return {.error = bytes.error()};
    return {descriptor, *bytes};
}

}  // namespace

// Everything the guest handed over reaches the descriptor: a short host
// write is continued from the first byte not taken.
SyscallResult sys_write(Process &process, const CallArgs<KIV_SYS_write> &args) {
    auto [descriptor, bytes, refusal] = transfer_of(process, args);
    if (refusal != 0) return failure(refusal);
    size_t written = 0;
    while (written < bytes.size()) {
        int error = 0;
        ssize_t wrote = write_some(process, *descriptor, bytes.data() + written, bytes.size() - written, error);
        if (wrote < 0) return written > 0 ? success(static_cast<int32_t>(written)) : failure(error);
        written += static_cast<size_t>(wrote);
    }
    return success(static_cast<int32_t>(written));
}

SyscallResult sys_read(Process &process, const CallArgs<KIV_SYS_read> &args) {
    auto [descriptor, bytes, refusal] = transfer_of(process, args);
    if (refusal != 0) return failure(refusal);
    if (bytes.empty()) return success(0);
    for (;;) {
        if (descriptor->may_wait)
            if (int error = wait_ready(process, *descriptor, POLLIN)) return failure(error);
        ssize_t got = ::read(descriptor->host_fd, bytes.data(), bytes.size());
        if (got >= 0) return success(static_cast<int32_t>(got));
        if (errno != EINTR && !(errno == EAGAIN && descriptor->may_wait)) return failure(errno);
    }
}

SyscallResult sys_getkey(Process &process, const CallArgs<KIV_SYS_getkey> &) {
    const FdTable::Descriptor *input = process.fds.find(0);
    if (input == nullptr || !input->readable) return failure(EBADF);
    for (;;) {
        if (int error = wait_ready(process, *input, POLLIN)) return failure(error);
        uint8_t key;
        ssize_t got = ::read(input->host_fd, &key, 1);
        if (got >= 0) return success(got == 0 ? -1 : key);
        if (errno != EINTR && errno != EAGAIN) return failure(errno);
    }
}

SyscallResult sys_open(Process &process, const CallArgs<KIV_SYS_open> &args) {
    auto path = args.path<0>();
    if (!path) return path.refusal();
    int flags = host_open_flags(args.flags<1>());
    if (flags < 0) return failure(EINVAL);
    int fd = open_for_guest(process, *path, flags);
    if (fd < 0) return failure(errno);
    return add_descriptor(process, fd);
}

SyscallResult sys_close(Process &process, const CallArgs<KIV_SYS_close> &args) {
    return process.fds.close(args.descriptor<0>()) ? success(0) : failure(EBADF);
}

SyscallResult sys_lseek(Process &process, const CallArgs<KIV_SYS_lseek> &args) {
    int fd = process.fds.host(args.descriptor<0>());
    if (fd < 0) return failure(EBADF);
    uint32_t whence = args.flags<2>();
    if (whence >= std::size(kWhence)) return failure(EINVAL);
    off_t before = ::lseek(fd, 0, SEEK_CUR);
    if (before < 0) return failure(errno);
    off_t position = ::lseek(fd, args.signed_number<1>(), static_cast<int>(kWhence[whence].host));
    if (position < 0) return failure(errno);
    // Offsets are 32-bit signed in the guest: a position it cannot hold is
    // refused, and a refused seek leaves the position where it was.
    if (position > INT32_MAX) {
        ::lseek(fd, before, SEEK_SET);
        return failure(EOVERFLOW);
    }
    return success(static_cast<int32_t>(position));
}

SyscallResult sys_dup(Process &process, const CallArgs<KIV_SYS_dup> &args) {
    int32_t fd = process.fds.dup(args.descriptor<0>());
    return fd < 0 ? failure(EBADF) : success(fd);
}

SyscallResult sys_dup2(Process &process, const CallArgs<KIV_SYS_dup2> &args) {
    int32_t fd = process.fds.dup2(args.descriptor<0>(), args.descriptor<1>());
    return fd < 0 ? failure(EBADF) : success(fd);
}

SyscallResult sys_pipe(Process &process, const CallArgs<KIV_SYS_pipe> &args) {
    int32_t guest[2];
    if (!args.fillable<0>(sizeof guest)) return failure(EFAULT);
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return failure(errno);
    guest[0] = process.fds.add(ends[0]);
    guest[1] = guest[0] < 0 ? -1 : process.fds.add(ends[1]);
    if (guest[1] < 0) {
        if (guest[0] < 0) ::close(ends[1]);
        else process.fds.close(guest[0]);
        return failure(EMFILE);
    }
    args.fill<0>(guest, sizeof guest);
    return success(0);
}

SyscallResult sys_fd_set_nonblock(Process &process, const CallArgs<KIV_SYS_fd_set_nonblock> &args) {
    FdTable::Descriptor *descriptor = process.fds.find(args.descriptor<0>());
    if (descriptor == nullptr) return failure(EBADF);
    // The console is shared with the host's shell: its mode stays as it is.
    if (descriptor->console) return failure(EPERM);
    descriptor->nonblocking = args.signed_number<1>() != 0;
    return success(0);
}

}  // namespace kiv
