// A wall-clock limit for a run, and a way to stop it early: one thread that,
// from the deadline on (or from when the stop descriptor becomes readable),
// calls the given action every millisecond until the watchdog is destroyed
// (nothing when it is destroyed before either).
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <thread>

#include "machine/cpu.h"
#include "support/unique_fd.h"

namespace kiv {

class Watchdog {
public:
    // `deadline`: none for no time limit; `stop_fd`: -1 for none.
    Watchdog(std::optional<std::chrono::steady_clock::time_point> deadline, int stop_fd,
             std::function<void()> on_expiry);
    ~Watchdog();
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

    // Whether the thread could be set up.
    bool armed() const { return done_.valid(); }

private:
    UniqueFd done_;  // readable once the watchdog is destroyed
    std::thread thread_;
};

// Arms the time limit and the stop a spawned process may be asked for, if
// there are any: then the CPU stops and every call that waits gives up.
// False when the host refused the watchdog.
bool arm_time_limit(std::optional<Watchdog> &watchdog, Cpu &cpu, int cancel_fd,
                    std::optional<std::chrono::steady_clock::time_point> deadline, int stop_fd);

}  // namespace kiv
