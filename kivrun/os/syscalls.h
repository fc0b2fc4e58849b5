// The system-call table: for each number the handler, the name, and how
// the trace shows its result and arguments.
#pragma once

#include <algorithm>
#include <array>
#include <initializer_list>
#include <iterator>
#include <cstdint>
#include <span>
#include <string_view>

#include "kiv_syscalls.h"
#include "os/process.h"
#include "machine/syscall_types.h"

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

// What the table says of one call: its number and name, how the trace shows
// its result, and the kind of each argument it reads.
struct CallRow {
    uint32_t number;
    const char *name;
    ResultKind result;
    std::array<ArgKind, 6> kinds;
    uint8_t arg_count;
};

namespace call_rows {

using enum ArgKind;
using enum ResultKind;

constexpr CallRow make_row(uint32_t number, const char *name, ResultKind result, std::initializer_list<ArgKind> kinds) {
    CallRow row{number, name, result, {}, static_cast<uint8_t>(kinds.size())};
    std::copy(kinds.begin(), kinds.end(), row.kinds.begin());
    return row;
}

#define KIV_CALL_ROW(number, name, result, ...) make_row(number, #name, result, {__VA_ARGS__}),
inline constexpr CallRow kRows[] = {KIV_SYSCALLS(KIV_CALL_ROW)};
#undef KIV_CALL_ROW

}  // namespace call_rows

// The row of a call the table has, for use in constant expressions only:
// for a number the table lacks it is not a constant, so asking fails to
// compile.
constexpr const CallRow &call_row(uint32_t number) {
    const CallRow *found = std::find_if(std::begin(call_rows::kRows), std::end(call_rows::kRows),
                                        [number](const CallRow &row) { return row.number == number; });
    return *found;
}

template <uint32_t Number>
class CallArgs;

using SyscallFunction = SyscallResult (*)(Process &, const SyscallArgs &);

struct SyscallEntry : CallRow {
    SyscallFunction handler;
};

// The entry for `number`, or nullptr for a number the kernel does not know.
const SyscallEntry *find_syscall(uint32_t number);
// The entry called `name`, or nullptr.
const SyscallEntry *find_syscall_named(std::string_view name);
// Every entry, in the table's order.
std::span<const SyscallEntry> all_syscalls();

// Handlers, one per call, named after the calls.
#define KIV_DECLARE_HANDLER(number, name, ...) SyscallResult sys_##name(Process &, const CallArgs<number> &);
KIV_SYSCALLS(KIV_DECLARE_HANDLER)
#undef KIV_DECLARE_HANDLER

}  // namespace kiv
