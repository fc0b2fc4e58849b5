#include "dispatch/trace_output.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "support/io.h"

namespace kiv {

namespace {

using Clock = std::chrono::steady_clock;

// The steady clock is the host's monotonic one.
timespec monotonic_time(Clock::time_point when) {
    auto since = when.time_since_epoch();
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    return {static_cast<time_t>(seconds.count()),
            static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count())};
}

// poll's timeout: what is left of the time, rounded up, 0 once it is over.
int milliseconds_until(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

pthread_mutex_t &taken(pthread_mutex_t &lock, TraceDeadline deadline, bool &held) {
    int result;
    if (deadline) {
        timespec until = monotonic_time(*deadline);
        result = pthread_mutex_clocklock(&lock, CLOCK_MONOTONIC, &until);
    } else {
        result = pthread_mutex_lock(&lock);
    }
    if (result == EOWNERDEAD) result = pthread_mutex_consistent(&lock);
    held = result == 0;
    return lock;
}

}  // namespace

SharedLock::SharedLock(pthread_mutex_t &lock, TraceDeadline deadline) : lock_(taken(lock, deadline, held_)) {}

SharedLock::~SharedLock() {
    if (held_) pthread_mutex_unlock(&lock_);
}

// The output may be a descriptor kivrun did not open (its standard error),
// which stays blocking: a write follows a poll that found room, and is at
// most PIPE_BUF bytes, which a pipe with room takes without waiting.
bool write_trace_bytes(int fd, std::string_view bytes, TraceDeadline deadline) {
    if (!deadline) return write_all(fd, bytes);
    while (!bytes.empty()) {
        pollfd output{fd, POLLOUT, 0};
        int ready = poll(&output, 1, milliseconds_until(*deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        ssize_t done = ::write(fd, bytes.data(), std::min<size_t>(bytes.size(), PIPE_BUF));
        if (done < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (done <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(done));
    }
    return true;
}

}  // namespace kiv
