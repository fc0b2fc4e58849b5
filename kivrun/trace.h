// The system-call trace: one line per call in the style strace users know,
// showing what reached the kernel (so a clamped count shows clamped), e.g.
//   write(1, "E1000 Probe Results:", 20) = 20
//   open("missing", O_RDONLY) = -1 ENOENT (No such file or directory)
// or one JSON object per line for programs; then how the run ended, or the
// summary table of `strace -c`.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "inject.h"
#include "syscalls.h"
#include "trace_summary.h"

namespace kiv {

enum class TraceFormat { Text, Json };

// What the user asked of the trace and of injection. The option texts are
// kept so that a child kivrun can be given the same (see child_options).
struct TraceSettings {
    bool enabled = false;                 // kivrun writes a trace at all
    bool times = false;                   // wall-clock time before each line
    bool epoch_times = false;             // that time as seconds since the epoch
    bool summary_only = false;            // the -c table at exit instead of lines
    TraceFormat format = TraceFormat::Text;
    uint32_t string_limit = 32;           // bytes shown of a text or buffer
    std::vector<std::string> selections;  // the "CALL[,CALL...]" of each trace=
    std::vector<uint32_t> selected;       // their call numbers, sorted; empty: every call
    std::vector<Injection> injections;

    // Applies one -e expression: trace=CALLS (which turns the trace on) or
    // inject=CALLS:WHAT[:when=EXPR]. Answers "" or, for a refused one, what is
    // wrong with it.
    std::string apply_expression(const std::string &expression);
    // The options that give a child kivrun these settings, the trace's
    // destination left out: the child is handed that as a descriptor.
    std::vector<std::string> child_options() const;
    // The settings child_options gave; nullopt for words it never gives.
    static std::optional<TraceSettings> from_options(const std::vector<std::string> &words);
};

class Trace {
public:
    Trace(FILE *out, const TraceSettings &settings) : out_(out), settings_(settings) {}

    // Whether the calls of `number` are traced.
    bool wants(uint32_t number) const;
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
    // From now on every text line starts with "[pid N] ", as soon as the run
    // has more than one process.
    void tag(int pid) { tag_ = "[pid " + std::to_string(pid) + "] "; }

private:
    void line(const std::string &text);
    bool wants_unknown_calls() const;
    void print_summary();
    std::string json_start() const;
    FILE *out_;
    TraceSettings settings_;
    TraceSummary summary_;
    int pid_ = 1;
    std::string tag_;
};

}  // namespace kiv
