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

    // A finished call. `entry` is null for a number the kernel does not know.
    void call(const SyscallEntry *entry, const SyscallRegisters &registers, int32_t result, int error,
              const GuestMemory &memory);
    // A call that does not return (exit).
    void call_without_return(const SyscallEntry &entry, const SyscallRegisters &registers, const GuestMemory &memory);

    // A line that is not a call ("--- fault: ...").
    void note(const std::string &text) { line("--- " + text); }

    // The formatted argument list; `returned` tells whether the kernel has
    // filled its output arguments.
    static std::string arguments(const SyscallEntry &entry, const SyscallArgs &args, int32_t result, bool returned,
                                 const GuestMemory &memory);

private:
    void line(const std::string &text);
    FILE *out_;
};

// Quotes bytes C-style, cutting after `limit` bytes with "...".
std::string quote_bytes(const uint8_t *bytes, size_t length, size_t limit);

}  // namespace kiv
