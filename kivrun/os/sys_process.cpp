// Process calls: exit, sleeping, anonymous memory and the NIC query.
#include <cerrno>

#include "kiv_mmap.h"
#include "os/call_args.h"
#include "os/guest_io.h"
#include "os/syscalls.h"

namespace kiv {

SyscallResult sys_exit(Process &, const CallArgs<KIV_SYS_exit> &args) { return process_end(args.signed_number<0>()); }

namespace {

// The run's memory is shared with the process's relatives; a process
// without any (a library user's run) has only its own limits.
bool take_run_memory(Process &process, uint64_t bytes) {
    return process.children == nullptr || process.children->take_memory(bytes);
}

void return_run_memory(Process &process, uint64_t bytes) {
    if (process.children != nullptr) process.children->return_memory(bytes);
}

}  // namespace

SyscallResult sys_usleep(Process &process, const CallArgs<KIV_SYS_usleep> &args) {
    if (!process.skip_sleeps) interruptible_sleep(process, args.number<0>());
    return success(0);
}

// Anonymous memory only: no descriptor or the anonymous flag. A hint address
// is used when that range is free; otherwise the lowest free range above
// kMmapBase. The protection bits are the kernel's access bits.
SyscallResult sys_mmap(Process &process, const CallArgs<KIV_SYS_mmap> &args) {
    uint32_t hint = args.address<0>(), length = args.number<1>(), protection = args.flags<2>(), flags = args.flags<3>();
    if (length == 0 || (protection & ~kAccessAll) != 0) return failure(EINVAL);
    if (args.descriptor<4>() != KIV_MAP_NO_FD && (flags & KIV_MAP_ANONYMOUS) == 0) return failure(ENODEV);
    uint64_t size = page_ceil(length);
    if (process.anonymous_total + size > kMaxAnonymousMemory || !take_run_memory(process, size)) return failure(ENOMEM);
    std::optional<uint32_t> start;
    if (hint != 0 && hint % kPageSize == 0 && hint >= kUserStart && uint64_t{hint} + size <= kStackBottom)
        start = process.memory.find_free(static_cast<uint32_t>(size), hint, hint + static_cast<uint32_t>(size));
    if (!start) start = process.memory.find_free(static_cast<uint32_t>(size), kMmapBase, kStackBottom);
    if (!start || !process.memory.map(*start, static_cast<uint32_t>(size), protection)) {
        return_run_memory(process, size);
        return failure(ENOMEM);
    }
    process.anonymous[*start] = static_cast<uint32_t>(size);
    process.anonymous_total += size;
    return success(static_cast<int32_t>(*start));
}

// Releases whole mappings made by mmap, exactly as they were made. Like
// Linux past its mapping limit, a release that would leave memory in more
// pieces than the kernel keeps is refused (ENOMEM) and changes nothing.
SyscallResult sys_munmap(Process &process, const CallArgs<KIV_SYS_munmap> &args) {
    auto it = process.anonymous.find(args.address<0>());
    if (it == process.anonymous.end() || page_ceil(args.number<1>()) != it->second) return failure(EINVAL);
    if (!process.memory.unmap(it->first, it->second)) return failure(ENOMEM);
    return_run_memory(process, it->second);
    process.anonymous_total -= it->second;
    process.anonymous.erase(it);
    return success(0);
}

// Fills exactly the 28 bytes of the record; nothing when there is no NIC.
SyscallResult sys_nic_query(Process &process, const CallArgs<KIV_SYS_nic_query> &args) {
    std::string problem;
    auto info = query_nic(process.nic, problem);
    if (!info) {
        process.tell_once(problem);
        return failure(ENODEV);
    }
    if (!args.fill<2>(&*info, sizeof *info)) return failure(EFAULT);
    return success(0);
}

}  // namespace kiv
