// Process calls: exit, sleeping, anonymous memory, the NIC query, and the
// process-control calls the stand-in does not model (yet).
#include <cerrno>

#include "elf_image.h"
#include "guest_io.h"
#include "syscalls.h"

namespace kiv {

namespace {

constexpr uint32_t kMapAnonymous = 0x20;
constexpr uint32_t kNoDescriptor = 0xffffffffu;
constexpr uint32_t kKnownProtection = kAccessRead | kAccessWrite | kAccessExec;

}  // namespace

int32_t sys_exit(Process &process, const SyscallArgs &args) {
    process.cpu.exit_process(static_cast<int32_t>(args[0]));
    return 0;
}

int32_t sys_usleep(Process &process, const SyscallArgs &args) {
    if (!process.skip_sleeps) interruptible_sleep(process, args[0]);
    return 0;
}

// Anonymous memory only: fd -1 or the anonymous flag. A hint address is
// used when that range is free; otherwise the lowest free range above
// kMmapBase.
int32_t sys_mmap(Process &process, const SyscallArgs &args) {
    uint32_t hint = args[0], length = args[1], protection = args[2], flags = args[3];
    if (length == 0 || (protection & ~kKnownProtection) != 0) return process.fail(EINVAL);
    if (args[4] != kNoDescriptor && (flags & kMapAnonymous) == 0) return process.fail(ENODEV);
    uint64_t size = page_ceil(length);
    if (process.anonymous_total + size > kMaxAnonymousMemory) return process.fail(ENOMEM);
    std::optional<uint32_t> start;
    if (hint != 0 && hint % kPageSize == 0 && hint >= kUserStart && uint64_t{hint} + size <= kStackBottom)
        start = process.memory.find_free(static_cast<uint32_t>(size), hint, hint + static_cast<uint32_t>(size));
    if (!start) start = process.memory.find_free(static_cast<uint32_t>(size), kMmapBase, kStackBottom);
    if (!start || !process.memory.map(*start, static_cast<uint32_t>(size), protection))
        return process.fail(ENOMEM);
    process.anonymous[*start] = static_cast<uint32_t>(size);
    process.anonymous_total += size;
    return static_cast<int32_t>(*start);
}

// Releases whole mappings made by mmap, exactly as they were made.
int32_t sys_munmap(Process &process, const SyscallArgs &args) {
    auto it = process.anonymous.find(args[0]);
    if (it == process.anonymous.end() || page_ceil(args[1]) != it->second) return process.fail(EINVAL);
    if (!process.memory.unmap(it->first, it->second)) return process.fail(EINVAL);
    process.anonymous_total -= it->second;
    process.anonymous.erase(it);
    return 0;
}

// Fills exactly the 28 bytes of the record; nothing when there is no NIC.
int32_t sys_nic_query(Process &process, const SyscallArgs &args) {
    auto info = query_nic(process.nic);
    if (!info) return process.fail(ENODEV);
    if (!process.memory.write(args[2], &*info, sizeof *info)) return process.fail(EFAULT);
    return 0;
}

// The stand-in runs one process: the calls that start or wait for others,
// and the descriptor settings that only matter to them, are refused.
int32_t sys_fd_set_inherit(Process &process, const SyscallArgs &) { return process.fail(ENOSYS); }
int32_t sys_fd_set_stdio(Process &process, const SyscallArgs &) { return process.fail(ENOSYS); }
int32_t sys_spawn(Process &process, const SyscallArgs &) { return process.fail(ENOSYS); }
int32_t sys_waitpid(Process &process, const SyscallArgs &) { return process.fail(ENOSYS); }
int32_t sys_spawn_ex(Process &process, const SyscallArgs &) { return process.fail(ENOSYS); }

}  // namespace kiv
