// The system-call table: for each number the handler, the name, and how
// the trace shows its result and arguments.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "kiv_syscalls.h"
#include "process.h"
#include "syscall_types.h"

namespace kiv {

enum class ArgKind : uint8_t {
    FD,           // descriptor, decimal
    INT,          // signed decimal
    UINT,         // unsigned decimal
    HEX,          // flags words
    PTR,          // a guest address
    COUNT,        // byte count (unsigned)
    PATH,         // NUL-terminated text the kernel reads
    BUF_IN,       // bytes the kernel reads; the count is the next argument
    BUF_OUT,      // bytes the kernel fills; the result is how many
    BUF_OUT_STR,  // text the kernel fills
    OPEN_FLAGS,   // open() flags, decoded by name
    OPEN_THIRD,   // open()'s third word: the wrapper passes the flags again, no mode
    MMAP_PROT,    // mmap protection bits, by name
    MMAP_FLAGS,   // mmap flags, by name
    WHENCE,       // lseek's origin, by name
    NIC_INFO,     // the NIC record the kernel fills
    FD_PAIR,      // int[2] the kernel fills
    ARGV,         // argument vector; the count is the next argument
    SPAWN_BLOCK,  // spawn_ex's argument block
    WAIT_STATUS,  // waitpid's status word, filled when a child was reaped
};

enum class ResultKind : uint8_t {
    SIGNED,   // signed decimal
    ADDRESS,  // hex, unless the call failed
};

using SyscallFunction = SyscallResult (*)(Process &, const SyscallArgs &);

struct SyscallEntry {
    uint32_t number;
    const char *name;
    SyscallFunction handler;
    ResultKind result;
    std::array<ArgKind, 6> kinds;
    uint8_t arg_count;
};

// The entry for `number`, or nullptr for a number the kernel does not know.
const SyscallEntry *find_syscall(uint32_t number);
// The entry called `name`, or nullptr.
const SyscallEntry *find_syscall_named(std::string_view name);
// Every entry, in the table's order.
std::span<const SyscallEntry> all_syscalls();

// Handlers, one per call, named after the calls.
#define KIV_DECLARE_HANDLER(number, name, ...) SyscallResult sys_##name(Process &, const SyscallArgs &);
KIV_SYSCALLS(KIV_DECLARE_HANDLER)
#undef KIV_DECLARE_HANDLER

}  // namespace kiv
