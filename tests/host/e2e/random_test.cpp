// rand's automatic seed, seen from outside: the time-stamp counter is the
// only input that differs between runs of one program, so the same counter
// must give the same sequence, different counters different ones, and
// every sequence must stay in range and spread over it.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <sstream>

#include "guest_runner.h"

namespace kiv::test {
namespace {

constexpr int kRandMax = 32767;
constexpr size_t kValues = 256;  // what the fixture prints
// Each quarter of the range holds at least this share of the values: far
// below the expected quarter, far above what a broken mix (stuck bits, a
// constant) would give.
constexpr size_t kQuarterFloor = kValues / 8;

// Neighbours differing in one low bit as well as far-apart values.
const uint64_t kCounters[] = {0, 1, 2, uint64_t{1} << 32, 0x123456789abcdef0ull, 0xfedcba9876543210ull};

// The first values of an unseeded generator; the host's counter when
// `counter` is unset.
std::vector<int> unseeded_values(std::optional<uint64_t> counter) {
    RunOptions options;
    if (counter) options.settings.tsc = TscSequence{*counter, 1};
    GuestRun run = run_guest(guest_program("fx_rand_seed"), {}, options);
    EXPECT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    std::vector<int> values;
    std::istringstream lines(run.out);
    for (int value; lines >> value;) values.push_back(value);
    EXPECT_EQ(values.size(), kValues) << run.out;
    return values;
}

void expect_spread_over_the_range(const std::vector<int> &values) {
    size_t quarters[4] = {};
    for (int value : values) {
        ASSERT_GE(value, 0);
        ASSERT_LE(value, kRandMax);
        quarters[value / ((kRandMax + 1) / 4)]++;
    }
    for (size_t count : quarters) EXPECT_GE(count, kQuarterFloor);
}

TEST(RandomSeed, SameCounterGivesTheSameSequence) {
    for (uint64_t counter : kCounters) EXPECT_EQ(unseeded_values(counter), unseeded_values(counter)) << counter;
}

TEST(RandomSeed, DifferentCountersGiveDifferentSequences) {
    std::set<std::vector<int>> sequences;
    for (uint64_t counter : kCounters) {
        auto values = unseeded_values(counter);
        SCOPED_TRACE(counter);
        expect_spread_over_the_range(values);
        sequences.insert(values);
    }
    EXPECT_EQ(sequences.size(), std::size(kCounters));
}

TEST(RandomSeed, DiffersFromRunToRunOnTheHostCounter) {
    auto first = unseeded_values(std::nullopt);
    auto second = unseeded_values(std::nullopt);
    expect_spread_over_the_range(first);
    EXPECT_NE(first, second);
}

}  // namespace
}  // namespace kiv::test
