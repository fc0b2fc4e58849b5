// A program run as AFL++'s target: the program is loaded and the CPU set
// up once, then, under AFL++'s fork server, each input runs in a forked
// copy. A program that marks a fuzzing loop with the kit's
// KIVOS_FUZZ_LOOP (kivos/fuzz.h) runs many inputs per copy: at the loop's
// first call the machine is snapshot, and each later call ends an
// execution and goes back to it (persistent mode).
#pragma once

#include <cstdint>

#include "machine/cpu.h"
#include "machine/guest_memory.h"
#include "machine/loader.h"
#include "run/run_options.h"

namespace kiv {

struct FuzzedProgram {
    Cpu &cpu;
    GuestMemory &memory;
    SyscallHandler &handler;
    const ExecutableImage &image;
    uint32_t stack;
    int cancel_fd;              // the process's cancellation eventfd
    const RunOptions &options;  // options.afl_shm_id is set
};

// How one execution ended; under a fork server this returns in the
// children only, and the server itself exits once AFL++ is gone.
Stop run_for_afl(const FuzzedProgram &program);

}  // namespace kiv
