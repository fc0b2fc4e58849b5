#include "run/watchdog.h"

namespace kiv {

namespace {

constexpr std::chrono::milliseconds kRepeatInterval{1};

}  // namespace

Watchdog::Watchdog(std::chrono::duration<double> limit, std::function<void()> on_expiry) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::nanoseconds>(limit);
    thread_ = std::thread([this, deadline, on_expiry = std::move(on_expiry)] {
        std::unique_lock lock(mutex_);
        auto finished = [this] { return done_; };
        if (finished_.wait_until(lock, deadline, finished)) return;
        // A stop that reaches the emulator while it is not running is lost
        // (it may be just about to start): repeat it until the run is over.
        do {
            on_expiry();
        } while (!finished_.wait_for(lock, kRepeatInterval, finished));
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
