// The system-call trace: one line per call in the style strace users know,
// showing what reached the kernel (so a clamped count shows clamped), e.g.
//   write(1, "E1000 Probe Results:", 20) = 20
//   open("missing", O_RDONLY) = -1 ENOENT (No such file or directory)
// or one JSON object per line for programs; then how the run ended, or the
// summary table of `strace -c`.
#pragma once

#include <pthread.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/inject.h"
#include "dispatch/trace_output.h"
#include "os/syscalls.h"
#include "dispatch/trace_summary.h"

namespace kiv {

enum class TraceFormat { Text, Json };

// What the user asked of the trace and of injection.
struct TraceSettings {
    bool enabled = false;                 // kivrun writes a trace at all
    bool times = false;                   // wall-clock time before each line
    bool epoch_times = false;             // that time as seconds since the epoch
    bool summary_only = false;            // the -c table at exit instead of lines
    TraceFormat format = TraceFormat::Text;
    uint32_t string_limit = 32;           // bytes shown of a text or buffer
    std::vector<uint32_t> selected;       // their call numbers, sorted; empty: every call
    std::vector<Injection> injections;

    // Applies one -e expression: trace=CALLS (which turns the trace on) or
    // inject=CALLS:WHAT[:when=EXPR]. Answers "" or, for a refused one, what is
    // wrong with it.
    std::string apply_expression(const std::string &expression);
};

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
    int32_t open_pid;        // 0: no call is open
    uint32_t open_length;
    char open_text[kOpenCallBytes];  // its time (with -tt) and start, untagged

    // Sets up a zeroed state; the lock is robust, so a process killed while
    // holding it holds up nobody.
    bool init();
};

class Trace {
public:
    Trace(FILE *out, const TraceSettings &settings) : out_(out), settings_(settings) {}

    // Whether the calls of `number` are traced.
    bool wants(uint32_t number) const;
    // Lines go through the run's shared state from now on (none: each line
    // is written as it comes, for a trace only one process writes).
    void share(SharedTrace *shared) { shared_ = shared; }
    // The run's deadline, which no wait for the output or its lock passes.
    void set_deadline(TraceDeadline deadline) { deadline_ = deadline; }
    // A call about to be performed: its start is kept open, to be shown
    // unfinished if another line comes before its end.
    void begin(const SyscallEntry &entry, const SyscallArgs &args, const GuestMemory &memory);
    // A finished call; a call that ends the process shows "= ?".
    void call(const SyscallEntry &entry, const SyscallArgs &args, const SyscallResult &result,
              const GuestMemory &memory, bool injected, double seconds);
    // A number the kernel does not know.
    void unknown_call(const SyscallRegisters &registers, double seconds);

    // A line that is not a call ("--- fault: ...").
    void note(const std::string &text);
    // How the process ended ("+++ exited with 0 +++"), then the summary
    // when one was asked for.
    void end(const std::string &how);

    // The process id in JSON lines.
    void set_pid(int pid) { pid_ = pid; }
    int pid() const { return pid_; }
    // From now on every text line starts with "[pid N] ", as soon as the run
    // has more than one process.
    void tag(int pid) { tag_ = "[pid " + std::to_string(pid) + "] "; }

private:
    // A call whose line is still open: how it began.
    struct OpenCall {
        std::string start;        // "read(3, "
        std::string time;         // "HH:MM:SS.uuuuuu " when the call began, with -tt
        uint64_t opened_at;       // the shared count of lines when the call began
    };

    void line(const std::string &text);
    // Whole lines, as one write, in their turn among the run's processes.
    void write_line(const std::string &bytes);
    // The call's whole line, or its resumption when its start was shown.
    void end_call(const std::string &name, const std::string &text);
    std::string prefix() const;
    // Shows another call that is still open as unfinished (lock held).
    void close_open_call();
    void write_out(const std::string &bytes) const;
    std::string clock_text() const;
    bool wants_unknown_calls() const;
    void print_summary();
    std::string json_start() const;
    FILE *out_;
    SharedTrace *shared_ = nullptr;
    TraceDeadline deadline_;
    std::optional<OpenCall> open_;
    TraceSettings settings_;
    TraceSummary summary_;
    int pid_ = 1;
    std::string tag_;
};

}  // namespace kiv
