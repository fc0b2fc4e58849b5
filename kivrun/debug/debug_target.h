// Running a program under gdb: the emulated CPU and the guest's memory as
// the gdb stub's DebugTarget. Breakpoints and watchpoints are emulator
// hooks, never bytes written into the program, and they exist only while
// something is set, so a run without them keeps its full speed.
#pragma once

#include <cstdint>

#include "debug/timeline.h"
#include "machine/cpu.h"
#include "machine/guest_memory.h"

namespace kiv {

struct GdbSettings {
    uint16_t port = 0;  // 0: any free port, announced on standard error
    // Set when gdb may also run the program backwards, which repeats parts
    // of the run: every value from outside must then come again without
    // the host, as a replay's do. It notes where the values stand and gives
    // what brings them back there.
    InputBookmark inputs;
};

// Like Cpu::run, but first waits for gdb on 127.0.0.1 and lets it drive the
// program from before its first instruction. `cancel_fd` becomes readable
// when the run is being stopped; it is also made readable when gdb
// vanishes, so blocking system calls give up.
Stop run_with_gdb(Cpu &cpu, GuestMemory &memory, SyscallHandler &handler, uint32_t entry, uint32_t stack,
                  const GdbSettings &settings, int cancel_fd);

}  // namespace kiv
