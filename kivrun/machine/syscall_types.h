// What passes between the CPU and the kernel at a system call: the number
// and six argument words as the registers hold them, and what the call
// gives back.
#pragma once

#include <array>
#include <cstdint>

namespace kiv {

// The shell's convention for the status of a process a signal ended (a
// fault of the guest, a host child killed): this plus the signal's number.
inline constexpr int32_t kSignalStatusBase = 128;

using SyscallArgs = std::array<uint32_t, 6>;

struct SyscallRegisters {
    uint32_t number;   // EAX
    SyscallArgs args;  // EBX, ECX, EDX, ESI, EDI, EBP
};

struct SyscallResult {
    int32_t value = 0;          // EAX, or the exit status when the process ends
    int error = 0;              // the host errno behind a failure, for the trace
    bool ends_process = false;  // the call does not return
};

inline SyscallResult success(int32_t value) { return {value}; }
inline SyscallResult failure(int error) { return {-1, error}; }
inline SyscallResult process_end(int32_t status) { return {status, 0, true}; }

}  // namespace kiv
