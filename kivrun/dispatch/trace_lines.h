// How one process's trace lines reach the output the run's processes
// share: each line whole, in one write, in its turn; and a call's line that
// another process's line interrupts, shown as strace -f shows it.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "dispatch/trace_output.h"

namespace kiv {

// The trace state every process of a run shares, in shared memory: a lock
// around each line written, the count of lines, and the start of the one
// call whose line is still open. Whoever writes the next line first shows
// that start as "<unfinished ...>", and the call's own process later ends it
// with "<... NAME resumed>", as strace -f does; so no line ever appears
// before the start of the call that led to it (a spawned child's first line
// follows its parent's spawn).
struct SharedTrace {
    static constexpr size_t kOpenCallBytes = 60 * 1024;

    pthread_mutex_t lock;
    uint64_t lines;
    int32_t open_pid;  // 0: no call is open
    uint32_t open_length;
    char open_text[kOpenCallBytes];  // its time (with -tt) and start, untagged

    // Sets up a zeroed state; the lock is robust, so a process killed while
    // holding it holds up nobody.
    bool init();
};

// The process whose lines these are.
struct TraceProcess {
    int pid = 1;
    std::string tag;  // what starts its text lines once the run has several processes
};

// "[pid N] ": a text line's tag.
std::string pid_tag(int pid);

// How a call's line begins, before the call ends.
struct OpenLine {
    std::string time;   // "HH:MM:SS.uuuuuu " when the call began, with -tt
    std::string start;  // "read(3, "
};

class TraceLines {
public:
    explicit TraceLines(FILE *out) : out_(out) {}

    // Lines go through the run's shared state from now on (none: each line
    // is written as it comes, for a trace only one process writes).
    void share(SharedTrace *shared) { shared_ = shared; }
    bool shared() const { return shared_ != nullptr; }
    // The run's deadline, which no wait for the output or its lock passes.
    void set_deadline(TraceDeadline deadline) { deadline_ = deadline; }
    TraceProcess &process() { return process_; }
    const TraceProcess &process() const { return process_; }

    // Whole lines, as one write, in their turn among the run's processes.
    void write(const std::string &bytes);
    // A call about to be performed whose start may show unfinished (the
    // trace is shared); any call left open before is forgotten.
    void open(OpenLine line);
    // Forgets the open call: the call about to be performed shows whole.
    void drop_open_call() { open_.reset(); }
    // A call's line: whole (`prefix` before it) while nothing came between
    // its start and its end, else resumed after its start shown unfinished.
    void finish(const std::string &name, const std::string &text, const std::string &prefix);

private:
    struct OpenCall {
        OpenLine line;
        uint64_t opened_at;  // the shared count of lines when the call began
    };

    // Shows another call that is still open as unfinished (lock held).
    void close_open_call();
    void write_out(const std::string &bytes) const;

    FILE *out_;
    SharedTrace *shared_ = nullptr;
    TraceDeadline deadline_;
    TraceProcess process_;
    std::optional<OpenCall> open_;
};

}  // namespace kiv
