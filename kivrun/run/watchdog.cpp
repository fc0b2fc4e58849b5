#include "run/watchdog.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace kiv {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRepeatMilliseconds = 1;

// poll's timeout until `deadline` (rounded up; -1 without one).
int milliseconds_until(std::optional<Clock::time_point> deadline) {
    if (!deadline) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

// Waits for the deadline or the stop; false when the watchdog was destroyed first.
bool wait_for_expiry(int done_fd, int stop_fd, std::optional<Clock::time_point> deadline) {
    pollfd watched[] = {{done_fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    for (;;) {
        int ready = poll(watched, stop_fd >= 0 ? 2 : 1, milliseconds_until(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (watched[0].revents != 0) return false;
        if (ready != 0 || (deadline && Clock::now() >= *deadline)) return true;
    }
}

}  // namespace

Watchdog::Watchdog(std::optional<Clock::time_point> deadline, int stop_fd, std::function<void()> on_expiry)
    : done_(eventfd(0, EFD_CLOEXEC)) {
    if (!done_.valid()) return;
    thread_ = std::thread([done_fd = done_.get(), stop_fd, deadline, on_expiry = std::move(on_expiry)] {
        if (!wait_for_expiry(done_fd, stop_fd, deadline)) return;
        // A stop that reaches the emulator while it is not running is lost
        // (it may be just about to start): repeat it until the run is over.
        pollfd done{done_fd, POLLIN, 0};
        do {
            on_expiry();
        } while (poll(&done, 1, kRepeatMilliseconds) <= 0);
    });
}

Watchdog::~Watchdog() {
    if (!done_.valid()) return;
    uint64_t one = 1;
    (void)!::write(done_.get(), &one, sizeof one);
    thread_.join();
}

bool arm_time_limit(std::optional<Watchdog> &watchdog, Cpu &cpu, int cancel_fd,
                    std::optional<std::chrono::steady_clock::time_point> deadline, int stop_fd) {
    if (!deadline && stop_fd < 0) return true;
    watchdog.emplace(deadline, stop_fd, [&cpu, cancel_fd] {
        cpu.stop_for_timeout();
        uint64_t one = 1;
        (void)!::write(cancel_fd, &one, sizeof one);
    });
    return watchdog->armed();
}

}  // namespace kiv
