// What the library draws unpredictable values from: the time-stamp counter
// and a 32-bit integer hash that spreads its few changing bits over a word.
#pragma once

#include <stdint.h>

namespace kiv::stdlib {

// The hash's two multipliers.
inline constexpr uint32_t kHashMultiplier1 = 0x7feb352du;
inline constexpr uint32_t kHashMultiplier2 = 0x846ca68bu;

inline uint64_t read_time_stamp_counter() {
    uint32_t low, high;
    asm volatile("rdtsc" : "=a"(low), "=d"(high));
    return (uint64_t{high} << 32) | low;
}

inline uint32_t hash32(uint32_t x) {
    x ^= x >> 16;
    x *= kHashMultiplier1;
    x ^= x >> 15;
    x *= kHashMultiplier2;
    x ^= x >> 16;
    return x;
}

}  // namespace kiv::stdlib
