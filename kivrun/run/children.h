// Processes: every guest process is a host process of its own, a kivrun
// started (through exec, never a bare fork of this threaded program) with a
// start record that carries everything it inherits: the validated program
// bytes, its arguments, the sandbox root and current directory, its
// descriptors, the trace, the run's settings, the deadline of the whole run
// and the run-wide count of live processes. Host pipes, host waiting and the
// host's process isolation then come for free.
#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "machine/syscall_types.h"

namespace kiv {

struct Process;
struct RunOptions;
class Trace;

using Deadline = std::chrono::steady_clock::time_point;

// Live processes a run may hold at once, the first program included.
inline constexpr uint32_t kMaxLiveProcesses = 64;

// A guest descriptor handed to a child, under the same host descriptor.
struct InheritedFd {
    int32_t guest;
    int host;
    bool console;  // the run's console: the child borrows it, never closes it
};

// What a spawned process gets from its parent besides the run's settings.
struct Inheritance {
    int root_fd = -1;
    std::string cwd = "/";
    std::vector<InheritedFd> fds;
    int live_count_fd = -1;
    std::optional<Deadline> deadline;
};

// The run-wide count of live processes: one shared page, passed down.
class LiveCount {
public:
    LiveCount() = default;
    ~LiveCount();
    LiveCount(const LiveCount &) = delete;
    LiveCount &operator=(const LiveCount &) = delete;

    // Starts a new count holding only this process; false on host failure.
    bool create();
    // Maps a count made by an ancestor (the descriptor is kept).
    bool adopt(int fd);
    // One more process, unless the run already holds the most it may.
    bool reserve();
    void release();
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    uint32_t *count_ = nullptr;
};

// One process's children and how it spawns them. Children still running
// when the process ends are killed and reaped.
class ProcessTree {
public:
    ProcessTree(Process &process, const RunOptions &options, std::optional<Deadline> deadline, Trace *trace);
    ~ProcessTree();
    ProcessTree(const ProcessTree &) = delete;
    ProcessTree &operator=(const ProcessTree &) = delete;

    // Later spawns: every open descriptor or only the standard three, and
    // which of the parent's descriptors become the child's 0, 1 and 2 (-1:
    // the parent's own).
    bool inherit_all = false;
    std::array<int32_t, 3> stdio{-1, -1, -1};

    // The descriptors a child gets; nullopt when a chosen one is not open.
    std::optional<std::vector<InheritedFd>> child_descriptors(const std::array<int32_t, 3> &chosen,
                                                              bool all) const;
    // Starts the program at the guest path with these arguments and
    // descriptors; the child's id.
    SyscallResult spawn(const std::string &path, const std::vector<std::string> &argv,
                     const std::vector<InheritedFd> &fds);
    // Waits for the child `pid` (-1: any); the child's status word.
    SyscallResult wait(int32_t pid, bool no_hang, int32_t &status);
    // Whether the process has ever had a child or is one (its trace lines
    // then carry its id).
    bool branched() const { return branched_; }

private:
    struct Child {
        int pidfd;
    };
    bool ensure_live_count();
    void tag_trace();
    std::optional<std::vector<uint8_t>> load_program(const std::string &path, int &error);
    SyscallResult launch(const std::string &path, std::vector<uint8_t> image, const std::vector<std::string> &argv,
                      const std::vector<InheritedFd> &fds);
    std::optional<int32_t> reap(pid_t pid);

    Process &process_;
    const RunOptions &options_;
    std::optional<Deadline> deadline_;
    Trace *trace_;
    LiveCount live_;
    std::map<pid_t, Child> children_;
    bool branched_ = false;
};

// kivrun's hidden entry for a spawned process: runs it when argv asks for
// it (and gives kivrun's exit status), otherwise nullopt.
std::optional<int> run_if_spawned(int argc, char **argv);

}  // namespace kiv
