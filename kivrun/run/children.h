// Processes: every guest process is a host process of its own, a kivrun
// started (through exec, never a bare fork of this threaded program) with a
// start record that carries everything it inherits: the validated program
// bytes, its arguments, the sandbox root and current directory, its
// descriptors, the trace, the run's settings, the deadline of the whole run
// and the run-wide count of live processes. Host pipes, host waiting and the
// host's process isolation then come for free.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "os/child_processes.h"
#include "run/spawn_record.h"

namespace kiv {

struct Process;
class Trace;

// Live processes a run may hold at once, the first program included.
inline constexpr uint32_t kMaxLiveProcesses = 64;

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

// One process's children, each a host kivrun of its own. Children still
// running when the process ends are killed and reaped.
class HostChildren : public ChildProcesses {
public:
    HostChildren(Process &process, const RunOptions &options, std::optional<Deadline> deadline, Trace *trace);
    ~HostChildren() override;
    HostChildren(const HostChildren &) = delete;
    HostChildren &operator=(const HostChildren &) = delete;

    SyscallResult spawn(const std::string &path, const std::vector<std::string> &argv,
                        const std::vector<InheritedFd> &fds) override;
    SyscallResult wait(int32_t pid, bool no_hang, int32_t &status) override;

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
};

}  // namespace kiv
