// The watchdog that stops a run: at its time limit, again and again until
// the run is over, or when the process is asked to stop.
#include "run/watchdog.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/unique_fd.h"

namespace kiv::test {
namespace {

// The emulator ignores a stop that arrives just before it starts running:
// the expiry is delivered again until the run is over.
TEST(Runaway, TheExpiryRepeatsUntilTheRunEnds) {
    std::atomic<int> expiries{0};
    {
        Watchdog watchdog(std::chrono::steady_clock::now() + std::chrono::microseconds(1), -1,
                          [&expiries] { expiries++; });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    int after_end = expiries;
    EXPECT_GE(after_end, 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(expiries, after_end);
}

// A spawned process asked to stop (its stop descriptor readable) stops as
// at the time limit, without one; nothing happens before it is asked.
TEST(Runaway, AStopRequestExpiresTheWatchdog) {
    std::atomic<int> expiries{0};
    UniqueFd stop(eventfd(0, EFD_CLOEXEC));
    ASSERT_TRUE(stop.valid());
    Watchdog watchdog(std::nullopt, stop.get(), [&expiries] { expiries++; });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(expiries, 0);
    uint64_t one = 1;
    ASSERT_EQ(write(stop.get(), &one, sizeof one), static_cast<ssize_t>(sizeof one));
    for (int wait = 0; wait < 1000 && expiries == 0; wait++) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GT(expiries, 0);
}

}  // namespace
}  // namespace kiv::test
