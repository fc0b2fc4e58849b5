// rand's automatic seed, recomputed on the host from a made-up time-stamp
// counter. One of its inputs, the address of a local in rand's own frame,
// cannot be seen from outside; the guest's stack is the same in every run,
// so the test finds the one address (a word just below the caller's local)
// that explains three runs with different counters, then uses it to force
// a seed that hashes to 0, which must behave as srand(1).
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "guest_runner.h"

namespace kiv::test {
namespace {

constexpr uint32_t kMultiplier = 1103515245u;
constexpr uint32_t kIncrement = 12345u;
constexpr uint32_t kGoldenRatio = 0x9e3779b9u;
// rand's frame lies below its caller's locals, well within this distance.
constexpr uint32_t kFrameSearch = 1024;

struct SeedRun {
    uint32_t heap = 0;
    uint32_t anchor = 0;
    int first = -1;
    int second = -1;
};

SeedRun run_with_counter(uint64_t counter) {
    TempDir sandbox;
    RunOptions options;
    options.root = sandbox.path().string();
    options.tsc = TscSequence{counter, 1};
    GuestRun run = run_guest(guest_program("fx_rand_seed"), {}, options);
    EXPECT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    std::map<std::string, int64_t> fields;
    std::istringstream lines(run.out);
    std::string name;
    for (int64_t value; lines >> name >> value;) fields[name] = value;
    return SeedRun{static_cast<uint32_t>(fields["heap"]), static_cast<uint32_t>(fields["anchor"]),
                   static_cast<int>(fields["first"]), static_cast<int>(fields["second"])};
}

uint32_t hash32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

uint32_t mixed_counter(uint64_t counter) {
    return static_cast<uint32_t>(counter >> 32) * 1664525u ^ static_cast<uint32_t>(counter);
}

// The first two values rand gives after seeding itself from these inputs.
std::pair<int, int> expected_values(uint64_t counter, uint32_t frame, uint32_t heap) {
    uint32_t seed = hash32(mixed_counter(counter) ^ frame ^ heap ^ kGoldenRatio);
    uint32_t state = seed != 0 ? seed : 1u;
    state = state * kMultiplier + kIncrement;
    int first = static_cast<int>((state >> 16) & 0x7fff);
    state = state * kMultiplier + kIncrement;
    return {first, static_cast<int>((state >> 16) & 0x7fff)};
}

TEST(RandomSeed, MixesCounterFrameAndHeapAddresses) {
    const uint64_t counters[] = {0x0000000000000000ull, 0x123456789abcdef0ull, 0xfedcba9876543210ull};
    std::vector<std::pair<uint64_t, SeedRun>> runs;
    for (uint64_t counter : counters) runs.emplace_back(counter, run_with_counter(counter));
    const SeedRun &reference = runs.front().second;
    for (const auto &[counter, run] : runs) {
        ASSERT_EQ(run.heap, reference.heap) << "the image changed between runs";
        ASSERT_EQ(run.anchor, reference.anchor) << "the stack changed between runs";
    }
    std::vector<uint32_t> frames;
    for (uint32_t frame = reference.anchor - kFrameSearch; frame < reference.anchor; frame += 4) {
        bool explains_all = true;
        for (const auto &[counter, run] : runs)
            explains_all = explains_all && expected_values(counter, frame, run.heap) == std::pair{run.first, run.second};
        if (explains_all) frames.push_back(frame);
    }
    ASSERT_EQ(frames.size(), 1u) << "no single frame address explains every run";

    // A counter that cancels the other inputs makes the hash 0, taken as 1.
    uint64_t cancelling = frames[0] ^ reference.heap ^ kGoldenRatio;
    SeedRun forced = run_with_counter(cancelling);
    EXPECT_EQ(forced.first, 16838);
    EXPECT_EQ(forced.second, 5758);
}

}  // namespace
}  // namespace kiv::test
