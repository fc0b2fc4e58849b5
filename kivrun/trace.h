// The system-call trace: one line per call in the style strace users know,
// showing what reached the kernel (so a clamped count shows clamped), e.g.
//   write(1, "E1000 Probe Results:", 20) = 20
//   open("missing", O_RDONLY, 0) = -1 ENOENT (No such file or directory)
#pragma once

#include <cstdio>
#include <string>

#include "syscalls.h"

namespace kiv {

class Trace {
public:
    explicit Trace(FILE *out) : out_(out) {}

    // A finished call; a call that ends the process shows "= ?".
    void call(const SyscallEntry &entry, const SyscallArgs &args, const SyscallResult &result,
              const GuestMemory &memory);
    // A number the kernel does not know.
    void unknown_call(const SyscallRegisters &registers);

    // A line that is not a call ("--- fault: ...").
    void note(const std::string &text) { line("--- " + text); }
    // From now on every line starts with "[pid N] ", as soon as the run has
    // more than one process.
    void tag(int pid) { tag_ = "[pid " + std::to_string(pid) + "] "; }
    // The process's last line, once lines are tagged: its exit status.
    void ended(int exit_code);

private:
    void line(const std::string &text);
    FILE *out_;
    std::string tag_;
};

}  // namespace kiv
