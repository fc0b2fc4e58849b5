// The pseudo-random number generator: a linear congruential generator whose
// state seeds itself from the time-stamp counter and two addresses when no
// srand came before the first rand.
#include <stdint.h>

#include "stdlib.h"
#include "stdlib/entropy.h"
#include "stdlib/heap.h"

namespace kiv::stdlib {

namespace {

constexpr uint32_t kMultiplier = 1103515245u;
constexpr uint32_t kIncrement = 12345u;
constexpr uint32_t kOutputShift = 16;
constexpr uint32_t kOutputMask = 0x7fffu;
static_assert(kOutputMask == RAND_MAX);

// Seed mixing: a multiplier to spread the counter's high word and the
// golden ratio constant (the hash is entropy.h's).
constexpr uint32_t kHighWordMultiplier = 1664525u;
constexpr uint32_t kGoldenRatio = 0x9e3779b9u;

uint32_t g_rand_state = 1;
int32_t g_rand_seeded = 0;

// A state of 0 would be as good as any other for the generator, but srand
// maps it to 1, and the automatic seed follows the same rule.
uint32_t nonzero_seed(uint32_t seed) { return seed != 0 ? seed : 1u; }

// Different from run to run: the counter, where the caller's stack lies and
// where the heap's fill offset lies.
uint32_t automatic_seed(uint32_t frame_address) {
    uint64_t counter = read_time_stamp_counter();
    uint32_t x = static_cast<uint32_t>(counter >> 32) * kHighWordMultiplier ^ static_cast<uint32_t>(counter);
    x ^= frame_address;
    x ^= static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&kiv::heap::g_heap_used));
    x ^= kGoldenRatio;
    return nonzero_seed(hash32(x));
}

}  // namespace

}  // namespace kiv::stdlib

extern "C" {

void srand(unsigned int seed) {
    kiv::stdlib::g_rand_seeded = 1;
    kiv::stdlib::g_rand_state = kiv::stdlib::nonzero_seed(seed);
}

int rand(void) {
    using namespace kiv::stdlib;
    if (g_rand_seeded == 0) {
        volatile uint32_t frame_marker = 0;
        g_rand_state = automatic_seed(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&frame_marker)));
        g_rand_seeded = 1;
    }
    g_rand_state = g_rand_state * kMultiplier + kIncrement;
    return static_cast<int>((g_rand_state >> kOutputShift) & kOutputMask);
}

}  // extern "C"
