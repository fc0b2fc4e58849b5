// A process's children as the spawn and wait calls see them. The handlers
// only ask; the run layer above starts and reaps the children (each a host
// process of its own), so nothing here knows how a child is run.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "machine/syscall_types.h"

namespace kiv {

// A guest descriptor handed to a child, under the same host descriptor.
struct InheritedFd {
    int32_t guest;
    int host;
    bool console;  // the run's console: the child borrows it, never closes it
};

// What later spawns hand down unless a spawn says otherwise: every open
// descriptor or only the standard three, and which of the parent's
// descriptors become the child's 0, 1 and 2 (-1: the parent's own).
struct SpawnDefaults {
    bool inherit_all = false;
    std::array<int32_t, 3> stdio{-1, -1, -1};
};

class ChildProcesses {
public:
    virtual ~ChildProcesses() = default;
    // Starts the program at the guest path with these arguments and
    // descriptors; the child's id.
    virtual SyscallResult spawn(const std::string &path, const std::vector<std::string> &argv,
                                const std::vector<InheritedFd> &fds) = 0;
    // Waits for the child `pid` (-1: any); the child's status word.
    virtual SyscallResult wait(int32_t pid, bool no_hang, int32_t &status) = 0;
    // Guest memory this process maps or releases, counted against what the
    // whole run, parent and children together, may hold.
    virtual bool take_memory(uint64_t bytes) = 0;
    virtual void return_memory(uint64_t bytes) = 0;
};

}  // namespace kiv
