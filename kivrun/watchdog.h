// A wall-clock limit for a run: one thread that, at the deadline, calls the
// given action (unless the run ended first).
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
