// File-system calls, all inside the run's sandbox.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "os/call_args.h"
#include "os/guest_io.h"
#include "os/syscalls.h"

namespace kiv {

namespace {

using PathOperation = int (Sandbox::*)(std::string_view);

SyscallResult on_path(Process &process, const Checked<std::string> &path, PathOperation operation) {
    if (!path) return path.refusal();
    return (process.sandbox.*operation)(*path) == 0 ? success(0) : failure(errno);
}

}  // namespace

SyscallResult sys_mkdir(Process &process, const CallArgs<KIV_SYS_mkdir> &args) {
    return on_path(process, args.path<0>(), &Sandbox::make_directory);
}

SyscallResult sys_unlink(Process &process, const CallArgs<KIV_SYS_unlink> &args) {
    return on_path(process, args.path<0>(), &Sandbox::remove_file);
}

SyscallResult sys_rmdir(Process &process, const CallArgs<KIV_SYS_rmdir> &args) {
    return on_path(process, args.path<0>(), &Sandbox::remove_directory);
}

SyscallResult sys_mkfifo(Process &process, const CallArgs<KIV_SYS_mkfifo> &args) {
    return on_path(process, args.path<0>(), &Sandbox::make_fifo);
}

SyscallResult sys_chdir(Process &process, const CallArgs<KIV_SYS_chdir> &args) {
    return on_path(process, args.path<0>(), &Sandbox::change_directory);
}

// Fills the buffer with the current directory and its NUL; the result is
// the number of bytes stored, NUL included.
SyscallResult sys_getcwd(Process &process, const CallArgs<KIV_SYS_getcwd> &args) {
    const std::string &cwd = process.sandbox.current_directory();
    uint32_t needed = static_cast<uint32_t>(cwd.size() + 1);
    if (args.number<1>() < needed) return failure(ERANGE);
    if (!args.fill<0>(cwd.c_str(), needed)) return failure(EFAULT);
    return success(static_cast<int32_t>(needed));
}

// Creates or replaces the file with exactly `count` bytes; the result is
// the count.
SyscallResult sys_writefile(Process &process, const CallArgs<KIV_SYS_writefile> &args) {
    if (args.number<2>() > KIV_MAX_TRANSFER) return failure(EINVAL);
    auto path = args.path<0>();
    if (!path) return path.refusal();
    auto content = args.bytes<1>();
    if (!content) return content.refusal();
    if (process.sandbox.replace_file(*path, content->data(), content->size()) != 0) return failure(errno);
    return success(static_cast<int32_t>(content->size()));
}

// A file-system stream is a descriptor on a new (or emptied) file.
SyscallResult sys_kivfs_stream_begin(Process &process, const CallArgs<KIV_SYS_kivfs_stream_begin> &args) {
    auto path = args.path<0>();
    if (!path) return path.refusal();
    int fd = open_for_guest(process, *path, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) return failure(errno);
    return add_descriptor(process, fd);
}

SyscallResult sys_kivfs_stream_write(Process &process, const CallArgs<KIV_SYS_kivfs_stream_write> &args) {
    return sys_write(process, args.as<KIV_SYS_write>());
}

SyscallResult sys_kivfs_stream_end(Process &process, const CallArgs<KIV_SYS_kivfs_stream_end> &args) {
    return sys_close(process, args.as<KIV_SYS_close>());
}

}  // namespace kiv
