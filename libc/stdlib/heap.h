// The heap's state, private to the stdlib unit (the random-number
// generator mixes the address of the fill offset into its automatic seed).
#pragma once

#include <stdint.h>

namespace kiv::heap {

inline constexpr uint32_t kArenaSize = 0x100000;

extern unsigned char g_heap[kArenaSize];
extern uint32_t g_heap_used;

}  // namespace kiv::heap
