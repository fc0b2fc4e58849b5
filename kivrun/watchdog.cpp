#include "watchdog.h"

namespace kiv {

Watchdog::Watchdog(std::chrono::duration<double> limit, std::function<void()> on_expiry) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::nanoseconds>(limit);
    thread_ = std::thread([this, deadline, on_expiry = std::move(on_expiry)] {
        std::unique_lock lock(mutex_);
        if (!finished_.wait_until(lock, deadline, [this] { return done_; })) on_expiry();
    });
}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    finished_.notify_all();
    thread_.join();
}

}  // namespace kiv
