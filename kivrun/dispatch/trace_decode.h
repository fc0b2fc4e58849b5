// How the trace reads a call's argument words: numbers, the guest's bytes
// and texts, flags by name, and the records the kernel reads or fills,
// each decoded once and shown by the trace's writer in its own format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "machine/guest_memory.h"
#include "machine/syscall_types.h"
#include "os/syscalls.h"

namespace kiv {

// One argument as shown: a number, bytes from the guest (quoted), or text
// that is already in its shown form (flags, addresses, records).
struct Shown {
    enum class Kind { Number, Bytes, Symbolic } kind;
    int64_t number = 0;
    std::string text;   // Bytes: the first bytes; Symbolic: the whole text
    size_t length = 0;  // Bytes: how many there were in all
};

// Every argument of a finished call, texts and buffers cut after `limit`
// bytes.
std::vector<Shown> decode_arguments(const SyscallEntry &entry, const SyscallArgs &args, const SyscallResult &result,
                                    const GuestMemory &memory, size_t limit);

// The arguments known while the call runs: those before the first one the
// kernel stores into.
struct KnownArguments {
    std::vector<Shown> shown;
    bool cut = false;  // an argument the kernel stores into follows them
};
KnownArguments decode_known_arguments(const SyscallEntry &entry, const SyscallArgs &args, const GuestMemory &memory,
                                      size_t limit);

// The first `length` bytes of `bytes` in C's quotes, "..." after when
// there were more than `limit`.
std::string quoted(const std::string &bytes, size_t length, size_t limit);

// How a number the kernel does not know shows as a call: "syscall_N".
std::string unknown_call_name(uint32_t number);

bool failed(const SyscallResult &result);
// The errno's name ("ENOENT"), "E?" for one the host does not name.
std::string error_name(int error);
// What the error means, in the kernel's words where the host's would mislead.
const char *error_description(int error);

}  // namespace kiv
