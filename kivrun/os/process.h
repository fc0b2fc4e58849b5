// One running guest program as the stand-in kernel sees it: its memory, its
// descriptors, its file system view, its NIC and the ways it can be stopped.
// System-call handlers work on this record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "machine/guest_memory.h"
#include "os/child_processes.h"
#include "os/fd_table.h"
#include "os/nic.h"
#include "os/sandbox.h"

namespace kiv {

struct Process {
    Process(GuestMemory &guest_memory, Sandbox &guest_sandbox, const NicConfig &nic_config, int console_in,
            int console_out, int console_err, int cancel)
        : memory(guest_memory),
          sandbox(guest_sandbox),
          nic(nic_config),
          fds(console_in, console_out, console_err),
          cancel_fd(cancel) {}

    GuestMemory &memory;
    Sandbox &sandbox;
    const NicConfig &nic;
    FdTable fds;
    // Becomes readable when the run is being stopped: blocking calls give up.
    int cancel_fd;
    // mmap'd ranges: start -> size.
    std::map<uint32_t, uint32_t> anonymous;
    uint64_t anonymous_total = 0;
    // Its children (none can be started when null), and what spawns hand
    // them by default.
    ChildProcesses *children = nullptr;
    SpawnDefaults spawn_defaults;
    // usleep returns at once instead of sleeping.
    bool skip_sleeps = false;
    // Where kivrun tells its user why a host facility failed the guest
    // (nowhere when null); each run tells it once.
    FILE *diagnostics = nullptr;
    bool told_host_failure = false;

    void tell_once(const std::string &text) {
        if (diagnostics == nullptr || told_host_failure || text.empty()) return;
        fprintf(diagnostics, "kivrun: %s\n", text.c_str());
        fflush(diagnostics);
        told_host_failure = true;
    }
};

}  // namespace kiv
