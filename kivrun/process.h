// One running guest program as the stand-in kernel sees it: its memory, its
// descriptors, its file system view, its NIC and the ways it can be stopped.
// System-call handlers work on this record.
#pragma once

#include <cstdint>
#include <map>

#include "cpu.h"
#include "fd_table.h"
#include "guest_memory.h"
#include "nic.h"
#include "sandbox.h"

namespace kiv {

inline constexpr uint32_t kMmapBase = 0x40000000;
// Anonymous memory a process may hold at once through mmap.
inline constexpr uint64_t kMaxAnonymousMemory = 1ull << 30;

struct Process {
    Process(Cpu &cpu, GuestMemory &memory, Sandbox &sandbox, const NicConfig &nic, int console_in,
            int console_out, int console_err, int cancel_fd)
        : cpu(cpu), memory(memory), sandbox(sandbox), nic(nic), fds(console_in, console_out, console_err),
          cancel_fd(cancel_fd) {}

    Cpu &cpu;
    GuestMemory &memory;
    Sandbox &sandbox;
    const NicConfig &nic;
    FdTable fds;
    // Becomes readable when the run is being stopped: blocking calls give up.
    int cancel_fd;
    // mmap'd ranges: start -> size.
    std::map<uint32_t, uint32_t> anonymous;
    uint64_t anonymous_total = 0;
    // usleep returns at once instead of sleeping.
    bool skip_sleeps = false;
    // Why the current call failed (a host errno value), for the trace.
    int error = 0;

    // Records why a call failed and gives the failure result.
    int32_t fail(int error_number) {
        error = error_number;
        return -1;
    }
};

}  // namespace kiv
