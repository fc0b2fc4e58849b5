#include "os/guest_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <utility>

#include "os/call_args.h"
#include "support/unique_fd.h"

namespace kiv {

Checked<std::string> read_guest_path(const GuestMemory &memory, uint32_t address) {
    auto text = memory.read_text(address, Sandbox::kMaxPath);
    if (text) return std::move(*text);
    return Checked<std::string>::refused(memory.usable(address, 1, kAccessRead) ? ENAMETOOLONG : EFAULT);
}

SyscallResult add_descriptor(Process &process, int host_fd) {
    int32_t guest_fd = process.fds.add(host_fd);
    return guest_fd < 0 ? failure(EMFILE) : success(guest_fd);
}

int wait_ready(const Process &process, const FdTable::Descriptor &descriptor, short events) {
    pollfd watched[2] = {{descriptor.host_fd, events, 0}, {process.cancel_fd, POLLIN, 0}};
    for (;;) {
        int ready = poll(watched, process.cancel_fd >= 0 ? 2 : 1, descriptor.nonblocking ? 0 : -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return errno;
        if (watched[1].revents != 0) return EINTR;
        return ready > 0 ? 0 : EAGAIN;
    }
}

bool interruptible_sleep(const Process &process, uint64_t microseconds) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::microseconds(microseconds);
    pollfd cancel{process.cancel_fd, POLLIN, 0};
    for (;;) {
        auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return true;
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds);
        timespec wait{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
        if (ppoll(&cancel, process.cancel_fd >= 0 ? 1 : 0, &wait, nullptr) > 0) return false;
    }
}

namespace {

// How often a fifo opened for writing looks for its reader: no event tells
// when one comes.
constexpr uint64_t kFifoReaderPollMicroseconds = 10000;

bool is_fifo(const Process &process, const std::string &path) {
    UniqueFd fd(process.sandbox.open(path, O_PATH));
    struct stat info;
    return fd.valid() && fstat(fd.get(), &info) == 0 && S_ISFIFO(info.st_mode);
}

}  // namespace

int open_for_guest(const Process &process, const std::string &path, int flags) {
    for (;;) {
        int fd = process.sandbox.open(path, flags | O_NONBLOCK);
        if (fd >= 0 || errno != ENXIO) return fd;
        if (!is_fifo(process, path)) {
            errno = ENXIO;
            return -1;
        }
        if (!interruptible_sleep(process, kFifoReaderPollMicroseconds)) {
            errno = EINTR;
            return -1;
        }
    }
}

}  // namespace kiv
