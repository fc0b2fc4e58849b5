// File-system calls, all inside the run's sandbox.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "os/guest_io.h"
#include "os/syscalls.h"

namespace kiv {

namespace {

using PathOperation = int (Sandbox::*)(std::string_view);

SyscallResult on_path(Process &process, uint32_t address, PathOperation operation) {
    int error = 0;
    auto path = guest_path(process.memory, address, error);
    if (!path) return failure(error);
    return (process.sandbox.*operation)(*path) == 0 ? success(0) : failure(errno);
}

}  // namespace

SyscallResult sys_mkdir(Process &process, const SyscallArgs &args) {
    return on_path(process, args[0], &Sandbox::make_directory);
}

SyscallResult sys_unlink(Process &process, const SyscallArgs &args) {
    return on_path(process, args[0], &Sandbox::remove_file);
}

SyscallResult sys_rmdir(Process &process, const SyscallArgs &args) {
    return on_path(process, args[0], &Sandbox::remove_directory);
}

SyscallResult sys_mkfifo(Process &process, const SyscallArgs &args) {
    return on_path(process, args[0], &Sandbox::make_fifo);
}

SyscallResult sys_chdir(Process &process, const SyscallArgs &args) {
    return on_path(process, args[0], &Sandbox::change_directory);
}

// Fills the buffer with the current directory and its NUL; the result is
// the number of bytes stored, NUL included.
SyscallResult sys_getcwd(Process &process, const SyscallArgs &args) {
    const std::string &cwd = process.sandbox.current_directory();
    uint32_t needed = static_cast<uint32_t>(cwd.size() + 1);
    if (args[1] < needed) return failure(ERANGE);
    if (!process.memory.write(args[0], cwd.c_str(), needed)) return failure(EFAULT);
    return success(static_cast<int32_t>(needed));
}

// Creates or replaces the file with exactly `count` bytes; the result is
// the count.
SyscallResult sys_writefile(Process &process, const SyscallArgs &args) {
    if (args[2] > kMaxTransfer) return failure(EINVAL);
    int error = 0;
    auto path = guest_path(process.memory, args[0], error);
    if (!path) return failure(error);
    if (!process.memory.usable(args[1], args[2], kAccessRead)) return failure(EFAULT);
    std::vector<uint8_t> content(args[2]);
    if (!process.memory.read(args[1], content.data(), args[2])) return failure(EFAULT);
    if (process.sandbox.replace_file(*path, content.data(), content.size()) != 0) return failure(errno);
    return success(static_cast<int32_t>(args[2]));
}

// A file-system stream is a descriptor on a new (or emptied) file.
SyscallResult sys_kivfs_stream_begin(Process &process, const SyscallArgs &args) {
    int error = 0;
    auto path = guest_path(process.memory, args[0], error);
    if (!path) return failure(error);
    int fd = open_for_guest(process, *path, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) return failure(errno);
    return add_descriptor(process, fd);
}

SyscallResult sys_kivfs_stream_write(Process &process, const SyscallArgs &args) {
    return sys_write(process, args);
}

SyscallResult sys_kivfs_stream_end(Process &process, const SyscallArgs &args) {
    return sys_close(process, args);
}

}  // namespace kiv
