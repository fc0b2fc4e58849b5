// A wall-clock limit for a run: one thread that, from the deadline on,
// calls the given action every millisecond until the watchdog is destroyed
// (nothing when it is destroyed before the deadline).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kiv {

class Watchdog {
public:
    Watchdog(std::chrono::duration<double> limit, std::function<void()> on_expiry);
    ~Watchdog();
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

private:
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace kiv
