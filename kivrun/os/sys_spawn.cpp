// Process calls: spawning programs, waiting for them, and the descriptor
// settings that shape what later spawns hand down.
#include <cerrno>
#include <map>

#include "kiv_spawn.h"
#include "os/call_args.h"
#include "os/guest_io.h"
#include "os/syscalls.h"

namespace kiv {

namespace {

// Bounds on what one spawn may copy out of the caller.
constexpr uint32_t kMaxSpawnArguments = 1024;
constexpr uint32_t kMaxSpawnArgumentBytes = 128u << 10;
constexpr int32_t kDefaultDescriptor = -1;

using Stdio = std::array<int32_t, 3>;

// The argument texts, each read with a bound; nullopt with `error` set.
std::optional<std::vector<std::string>> guest_arguments(const GuestMemory &memory, uint32_t argv, int32_t argc,
                                                        int &error) {
    if (argc < 0 || static_cast<uint32_t>(argc) > kMaxSpawnArguments) {
        error = argc < 0 ? EINVAL : E2BIG;
        return std::nullopt;
    }
    std::vector<uint32_t> pointers(static_cast<size_t>(argc));
    if (argc > 0 && !memory.read(argv, pointers.data(), static_cast<uint32_t>(argc) * sizeof(uint32_t))) {
        error = EFAULT;
        return std::nullopt;
    }
    std::vector<std::string> texts;
    uint32_t left = kMaxSpawnArgumentBytes;
    for (uint32_t pointer : pointers) {
        auto text = memory.read_text(pointer, left);
        if (!text || text->size() >= left) {
            error = !text && !memory.usable(pointer, 1, kAccessRead) ? EFAULT : E2BIG;
            return std::nullopt;
        }
        left -= static_cast<uint32_t>(text->size() + 1);
        texts.push_back(std::move(*text));
    }
    return texts;
}

// The descriptors a child gets; nullopt when a chosen one is not open.
std::optional<std::vector<InheritedFd>> child_descriptors(const FdTable &fds, const Stdio &chosen, bool all) {
    std::map<int32_t, InheritedFd> given;
    int32_t shared = all ? fds.capacity() : static_cast<int32_t>(chosen.size());
    for (int32_t fd = 0; fd < shared; fd++)
        if (fds.host(fd) >= 0) given[fd] = {fd, fds.host(fd), fds.find(fd)->console};
    for (size_t slot = 0; slot < chosen.size(); slot++) {
        int32_t source = chosen[slot];
        if (source == -1) continue;
        if (fds.host(source) < 0) return std::nullopt;
        auto fd = static_cast<int32_t>(slot);
        given[fd] = {fd, fds.host(source), fds.find(source)->console};
    }
    std::vector<InheritedFd> list;
    for (auto &[fd, inherited] : given) list.push_back(inherited);
    return list;
}

SyscallResult spawn_program(Process &process, const Checked<std::string> &path, uint32_t argv, int32_t argc,
                            const Stdio &stdio, bool inherit_all) {
    if (!path) return path.refusal();
    int error = 0;
    auto arguments = guest_arguments(process.memory, argv, argc, error);
    if (!arguments) return failure(error);
    if (process.children == nullptr) return failure(ENOSYS);
    const SpawnDefaults &defaults = process.spawn_defaults;
    Stdio chosen;
    for (size_t i = 0; i < chosen.size(); i++)
        chosen[i] = stdio[i] != kDefaultDescriptor ? stdio[i] : defaults.stdio[i];
    auto fds = child_descriptors(process.fds, chosen, inherit_all || defaults.inherit_all);
    if (!fds) return failure(EBADF);
    return process.children->spawn(*path, *arguments, *fds);
}

}  // namespace

SyscallResult sys_fd_set_inherit(Process &process, const CallArgs<KIV_SYS_fd_set_inherit> &args) {
    process.spawn_defaults.inherit_all = args.signed_number<0>() != 0;
    return success(0);
}

SyscallResult sys_fd_set_stdio(Process &process, const CallArgs<KIV_SYS_fd_set_stdio> &args) {
    Stdio chosen{args.descriptor<0>(), args.descriptor<1>(), args.descriptor<2>()};
    for (int32_t fd : chosen)
        if (fd != kDefaultDescriptor && process.fds.host(fd) < 0) return failure(EBADF);
    process.spawn_defaults.stdio = chosen;
    return success(0);
}

SyscallResult sys_spawn(Process &process, const CallArgs<KIV_SYS_spawn> &args) {
    Stdio defaults{kDefaultDescriptor, kDefaultDescriptor, kDefaultDescriptor};
    return spawn_program(process, args.path<0>(), args.address<1>(), args.signed_number<2>(), defaults, false);
}

SyscallResult sys_spawn_ex(Process &process, const CallArgs<KIV_SYS_spawn_ex> &args) {
    auto block = args.record<0, KivSpawnBlock>();
    if (!block) return block.refusal();
    // The wrapper hands down the flag as 0 or 1; anything else did not come through it.
    if (block->inherit_all > 1) return failure(EINVAL);
    return spawn_program(process, read_guest_path(process.memory, block->path), block->argv, block->argc,
                         {block->child_stdin, block->child_stdout, block->child_stderr}, block->inherit_all == 1);
}

// The status pointer is checked before anything is reaped, so a bad one
// loses no child's status.
SyscallResult sys_waitpid(Process &process, const CallArgs<KIV_SYS_waitpid> &args) {
    bool wants_status = args.address<1>() != 0;
    uint32_t options = args.flags<2>();
    if ((options & ~uint32_t{KIV_WAIT_NO_HANG}) != 0) return failure(EINVAL);
    int32_t status = 0;
    if (wants_status && !args.fillable<1>(sizeof status)) return failure(EFAULT);
    if (process.children == nullptr) return failure(ECHILD);
    SyscallResult waited = process.children->wait(args.signed_number<0>(), (options & KIV_WAIT_NO_HANG) != 0, status);
    if (waited.value > 0 && wants_status) args.fill<1>(&status, sizeof status);
    return waited;
}

}  // namespace kiv
