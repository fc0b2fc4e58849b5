// The stack protector's runtime, for programs compiled with
// -fstack-protector, -fstack-protector-strong or -fstack-protector-all (the
// kit's drivers add -mstack-protector-guard=global: there is no thread
// block for the guard to live in). A protected function puts the guard
// word below its return address on entry and compares it on return.
//
// This unit is linked only into programs whose code names the guard, and
// it brings its own constructor along: the guard is drawn before main (and
// before any other constructor) while nothing protected is running yet,
// and a program with constructors is linked with the start-up object that
// runs them. Programs built without the protector carry none of it.
#include <stdint.h>

#include "stdlib.h"
#include "stdlib/entropy.h"
#include "unistd.h"

namespace {

// The guard's lowest byte, the first in memory, stays 0: a string copy
// that runs over a buffer cannot write the guard back unchanged, and text
// printed past a buffer's end stops before the rest of it.
constexpr uint32_t kTerminatorByteMask = 0xffffff00u;
// A guard that the counter left 0 would protect nothing: NUL, CR, LF and
// 0xff stop every string and line reader instead.
constexpr uint32_t kFallbackGuard = 0xff0a0d00u;

constexpr char kSmashedMessage[] = "*** stack smashing detected ***: terminated\n";

// Unpredictable from run to run: the time-stamp counter, and where the
// stack lies.
uint32_t fresh_guard() {
    volatile uint32_t frame_marker = 0;
    uint64_t counter = kiv::stdlib::read_time_stamp_counter();
    uint32_t frame = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&frame_marker));
    uint32_t high = kiv::stdlib::hash32(static_cast<uint32_t>(counter >> 32) ^ frame);
    uint32_t guard = kiv::stdlib::hash32(static_cast<uint32_t>(counter) ^ high) & kTerminatorByteMask;
    return guard != 0 ? guard : kFallbackGuard;
}

}  // namespace

extern "C" {

uintptr_t __stack_chk_guard = 0;

// As glibc's: the message on descriptor 2, then the process ends as abort
// ends it. Nothing of the smashed frame is trusted any more, so nothing is
// formatted and no stream is used.
__attribute__((noreturn)) void __stack_chk_fail(void) {
    write(STDERR_FILENO, kSmashedMessage, sizeof kSmashedMessage - 1);
    abort();
}

}  // extern "C"

namespace {

void draw_stack_guard() { __stack_chk_guard = fresh_guard(); }

// Priority 0 sorts before every constructor a program may declare
// (theirs start at 101).
using GuardSetter = void (*)();
[[gnu::section(".init_array.00000"), gnu::used]] const GuardSetter kDrawStackGuard = draw_stack_guard;

}  // namespace
