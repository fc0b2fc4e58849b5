// Processes: every guest process is a host process of its own, a kivrun
// started (through exec, never a bare fork of this threaded program) with a
// start record that carries everything it inherits: the validated program
// bytes, its arguments, the sandbox root and current directory, its
// descriptors, the trace, the run's settings, the deadline of the whole run
// and the state all processes of the run share. Host pipes, host waiting and the
// host's process isolation then come for free.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/trace.h"
#include "os/child_processes.h"
#include "run/spawn_record.h"

namespace kiv {

struct ExecutableImage;
struct Process;
struct RunSettings;
class Trace;

// Live processes a run may hold at once, the first program included.
inline constexpr uint32_t kMaxLiveProcesses = 64;

// The host memory a process of the run holds for `image`, counted against
// the run's limit: the guest's image and stack, the emulator's translation
// buffer and, under --coverage, the block tables.
uint64_t process_memory(const ExecutableImage &image, const RunSettings &settings);

// What every process of a run shares, on one shared mapping passed down:
// the count of live processes, the guest memory held and the trace's state.
struct SharedRunState {
    uint32_t live;
    uint64_t memory_held;
    uint64_t memory_limit;
    SharedTrace trace;
};

class SharedRun {
public:
    SharedRun() = default;
    ~SharedRun();
    SharedRun(const SharedRun &) = delete;
    SharedRun &operator=(const SharedRun &) = delete;

    // Starts a new state holding only this process, which may hold
    // `memory_limit` bytes of guest memory with its descendants; false on
    // host failure.
    bool create(uint64_t memory_limit);
    // Maps a state made by an ancestor (the descriptor is kept).
    bool adopt(int fd);
    // One more process, unless the run already holds the most it may.
    bool reserve();
    void release();
    // Guest memory for the run, unless that would pass its limit (always,
    // when `forced`).
    bool take_memory(uint64_t bytes, bool forced = false);
    void return_memory(uint64_t bytes);
    int fd() const { return fd_; }
    SharedTrace *trace() const { return state_ != nullptr ? &state_->trace : nullptr; }

private:
    int fd_ = -1;
    SharedRunState *state_ = nullptr;
};

// One process's children, each a host kivrun of its own. Children still
// running when the process ends are killed and reaped.
class HostChildren : public ChildProcesses {
public:
    // `image_memory`: what the program's image and stack hold, counted
    // against the run's memory (by the parent, for a spawned program).
    HostChildren(Process &process, const RunOptions &options, std::optional<Deadline> deadline, Trace *trace,
                 uint64_t image_memory);
    ~HostChildren() override;
    HostChildren(const HostChildren &) = delete;
    HostChildren &operator=(const HostChildren &) = delete;

    SyscallResult spawn(const std::string &path, const std::vector<std::string> &argv,
                        const std::vector<InheritedFd> &fds) override;
    SyscallResult wait(int32_t pid, bool no_hang, int32_t &status) override;
    // Starts a process replaying `recording` of the program `image`, with
    // only the console for descriptors; its host id.
    SyscallResult replay(const std::string &path, std::vector<uint8_t> image, const std::vector<std::string> &argv,
                         const RecordingSettings &recording);
    bool take_memory(uint64_t bytes) override;
    void return_memory(uint64_t bytes) override;

private:
    struct Child {
        int pidfd;
    };
    void share_trace(bool shared);
    void tag_trace();
    std::optional<std::vector<uint8_t>> load_program(const std::string &path, uint64_t &image_memory, int &error);
    SyscallResult start(const std::string &path, std::vector<uint8_t> image, uint64_t image_memory,
                        const std::vector<std::string> &argv, const std::vector<InheritedFd> &fds,
                        const RecordingSettings &recording);
    SyscallResult launch(const std::string &path, std::vector<uint8_t> image, const std::vector<std::string> &argv,
                         const std::vector<InheritedFd> &fds, const RecordingSettings &recording);
    std::optional<int32_t> reap(pid_t pid);

    Process &process_;
    const RunOptions &options_;
    std::optional<Deadline> deadline_;
    Trace *trace_;
    SharedRun shared_;
    uint64_t memory_held_ = 0;
    std::map<pid_t, Child> children_;
};

}  // namespace kiv
