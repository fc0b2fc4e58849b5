// How trace lines reach their output without outliving the run's time
// limit: the lock the run's processes take turns with is waited for until
// the deadline only, and so are the host's writes. From the deadline on, a
// line is written as far as the output takes it at once; the rest of it is
// dropped (a reader that stalls loses lines, the run still ends in time).
#pragma once

#include <pthread.h>

#include <chrono>
#include <optional>
#include <string_view>

namespace kiv {

using TraceDeadline = std::optional<std::chrono::steady_clock::time_point>;

// Holds the run's trace lock, when it could be taken by the deadline; a
// holder that died left the state usable (every field is checked where it
// is read).
class SharedLock {
public:
    SharedLock(pthread_mutex_t &lock, TraceDeadline deadline);
    ~SharedLock();
    SharedLock(const SharedLock &) = delete;
    SharedLock &operator=(const SharedLock &) = delete;

    bool held() const { return held_; }

private:
    pthread_mutex_t &lock_;
    bool held_;
};

// Writes `bytes` to `fd` (without a deadline, all of them, however long
// that takes); false when the output refused them or the deadline came
// first.
bool write_trace_bytes(int fd, std::string_view bytes, TraceDeadline deadline);

}  // namespace kiv
