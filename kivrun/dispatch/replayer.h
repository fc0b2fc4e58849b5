// The replaying side of a run: each call is answered from the recording
// instead of the host (its filled bytes written back into guest memory), and
// each rdtsc reads the recorded value. Only what stays inside the machine
// (mmap, munmap) is performed again, and a console write is made again for
// its output. The first event that does not match what the program does
// stops the run, with the difference named.
//
// A replayer may start from any point of the recording (a checkpoint):
// seek() puts it back at an event, so the same stretch can run again.
#pragma once

#include <optional>
#include <string>

#include "dispatch/recording.h"
#include "machine/cpu.h"
#include "machine/tsc.h"
#include "os/process.h"
#include "os/syscalls.h"

namespace kiv {

// The replays of a replayed process's children, each a process replaying
// its own recording (for its console output, its trace and its coverage).
class ReplayedChildren {
public:
    virtual ~ReplayedChildren() = default;
    // Starts the replay of the child the recording says a spawn started as
    // `pid`; why it cannot, in one line, otherwise.
    virtual std::optional<std::string> start(int32_t pid) = 0;
    // Waits for the replay of the child recorded as `pid`, as the recorded
    // run waited for the child.
    virtual void finish(int32_t pid) = 0;
};

class Replayer : public TimeStamps {
public:
    Replayer(const Recording &recording, const Cpu &cpu)
        : recording_(recording), cpu_(cpu), cursor_(recording.events()) {}

    // Where the replay stands: the next event and the calls answered so far.
    struct Position {
        uint64_t offset = 0;
        uint64_t calls = 0;
    };
    Position position() const { return {cursor_.offset(), calls_}; }
    void seek(const Position &position);
    // Replays the children too (none are started without it).
    void replay_children(ReplayedChildren &children) { children_ = &children; }

    // The recorded answer to this call; after a divergence, the end of the process.
    SyscallResult answer(const SyscallEntry &entry, const SyscallArgs &words, Process &process, bool &injected);
    std::optional<uint64_t> read() override;

    // Checks that the run ended where and as the recording did.
    void finish(const Stop &stop);
    // The blocks the recorded run ran before it was stopped from outside
    // (by its time limit, a signal, its block limit), if it was.
    std::optional<uint64_t> stop_block() const;
    // The stop the recording ends with, for a replay stopped at stop_block().
    Stop recorded_stop() const;
    // Whether the replay stands where the recorded run was stopped from
    // outside: the CPU or the dispatcher stops it there.
    bool at_recorded_stop() const;

    // The first difference, one line; empty while the run follows the recording.
    const std::string &divergence() const { return divergence_; }

private:
    std::optional<RecordedEvent> next_event();
    uint64_t block_of(const std::optional<RecordedEvent> &event) const;
    void diverge(const std::string &expected, const std::string &found, uint64_t block);
    bool write_back(const RecordedCall &call, const SyscallEntry &entry, const SyscallArgs &words, Process &process);
    void follow_children(const RecordedCall &call);

    const Recording &recording_;
    const Cpu &cpu_;
    RecordingCursor cursor_;
    uint64_t calls_ = 0;
    uint64_t echoed_calls_ = 0;  // the console writes up to this call were made again
    std::string divergence_;
    ReplayedChildren *children_ = nullptr;
};

}  // namespace kiv
