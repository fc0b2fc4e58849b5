// How the trace shows its lines, chosen once when the trace is set up:
// strace's text, or one JSON object per line for programs. A writer makes
// each line's text from the decoded call; the trace decides which lines
// there are and TraceLines writes them.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "dispatch/trace_lines.h"
#include "dispatch/trace_summary.h"
#include "machine/guest_memory.h"
#include "machine/syscall_types.h"
#include "os/syscalls.h"

namespace kiv {

// A finished call.
struct CallLine {
    const SyscallEntry &entry;
    const SyscallArgs &args;
    const SyscallResult &result;
    const GuestMemory &memory;
    bool injected;
    double seconds;  // how long the kernel took
};

class TraceWriter {
public:
    virtual ~TraceWriter() = default;

    // What starts each line but a summary's.
    virtual std::string prefix(const TraceProcess &process) const = 0;
    // How the call's line begins, for a call that may show unfinished;
    // nullopt where the format shows every call whole.
    virtual std::optional<OpenLine> open_line(const SyscallEntry &entry, const SyscallArgs &args,
                                              const GuestMemory &memory) const = 0;
    // The lines without their prefix and end.
    virtual std::string call(const CallLine &call, const TraceProcess &process) const = 0;
    virtual std::string unknown_call(const SyscallRegisters &registers, double seconds,
                                     const TraceProcess &process) const = 0;
    virtual std::string note(const std::string &text, const TraceProcess &process) const = 0;
    virtual std::string end(const std::string &how, const TraceProcess &process) const = 0;
    // The -c table, all of it, each line ended.
    virtual std::string summary(const TraceSummary &summary, const TraceProcess &process) const = 0;
};

// The time a text line starts with: none, -tt's wall-clock time or -ttt's
// seconds since the epoch.
enum class LineClock { None, WallClock, Epoch };

// strace's lines; texts and buffers cut after `string_limit` bytes.
std::unique_ptr<TraceWriter> text_trace_writer(LineClock clock, size_t string_limit);
// One JSON object per line, naming its process.
std::unique_ptr<TraceWriter> json_trace_writer(size_t string_limit);

// Now, in seconds since the epoch.
double epoch_seconds();

}  // namespace kiv
