// The system-call trace: one line per call in the style strace users know,
// showing what reached the kernel (so a clamped count shows clamped), e.g.
//   write(1, "E1000 Probe Results:", 20) = 20
//   open("missing", O_RDONLY) = -1 ENOENT (No such file or directory)
// or one JSON object per line for programs; then how the run ended, or the
// summary table of `strace -c`.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/trace_lines.h"
#include "dispatch/trace_output.h"
#include "dispatch/trace_summary.h"
#include "dispatch/trace_writer.h"
#include "os/syscalls.h"

namespace kiv {

enum class TraceFormat { Text, Json };

// What the user asked of the trace.
struct TraceSettings {
    bool enabled = false;       // kivrun writes a trace at all
    bool times = false;         // wall-clock time before each line
    bool epoch_times = false;   // that time as seconds since the epoch
    bool summary_only = false;  // the -c table at exit instead of lines
    TraceFormat format = TraceFormat::Text;
    uint32_t string_limit = 32;      // bytes shown of a text or buffer
    std::vector<uint32_t> selected;  // their call numbers, sorted; empty: every call
};

class Trace {
public:
    // The format is chosen here, once.
    Trace(FILE *out, const TraceSettings &settings);

    // Whether the calls of `number` are traced.
    bool wants(uint32_t number) const;
    // Lines go through the run's shared state from now on (none: each line
    // is written as it comes, for a trace only one process writes).
    void share(SharedTrace *shared) { lines_.share(shared); }
    // The run's deadline, which no wait for the output or its lock passes.
    void set_deadline(TraceDeadline deadline) { lines_.set_deadline(deadline); }
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
    void set_pid(int pid) { lines_.process().pid = pid; }
    int pid() const { return lines_.process().pid; }
    // From now on every text line starts with "[pid N] ", as soon as the run
    // has more than one process.
    void tag(int pid) { lines_.process().tag = pid_tag(pid); }

private:
    bool wants_unknown_calls() const;
    // A whole line of the writer's, with its prefix.
    void line(const std::string &text);

    TraceSettings settings_;
    std::unique_ptr<TraceWriter> writer_;
    TraceLines lines_;
    TraceSummary summary_;
};

}  // namespace kiv
