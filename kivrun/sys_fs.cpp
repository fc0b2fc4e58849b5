// File-system calls, all inside the run's sandbox.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "guest_io.h"
#include "syscalls.h"

namespace kiv {

namespace {

using PathOperation = int (Sandbox::*)(std::string_view) const;

int32_t on_path(Process &process, uint32_t address, PathOperation operation) {
    auto path = guest_path(process, address);
    if (!path) return -1;
    return (process.sandbox.*operation)(*path) == 0 ? 0 : process.fail(errno);
}

}  // namespace

int32_t sys_mkdir(Process &process, const SyscallArgs &args) {
    return on_path(process, args[0], &Sandbox::make_directory);
}

int32_t sys_unlink(Process &process, const SyscallArgs &args) {
    return on_path(process, args[0], &Sandbox::remove_file);
}

int32_t sys_rmdir(Process &process, const SyscallArgs &args) {
    return on_path(process, args[0], &Sandbox::remove_directory);
}

int32_t sys_mkfifo(Process &process, const SyscallArgs &args) {
    return on_path(process, args[0], &Sandbox::make_fifo);
}

int32_t sys_chdir(Process &process, const SyscallArgs &args) {
    auto path = guest_path(process, args[0]);
    if (!path) return -1;
    return process.sandbox.change_directory(*path) == 0 ? 0 : process.fail(errno);
}

// Fills the buffer with the current directory and its NUL; the result is
// the number of bytes stored, NUL included.
int32_t sys_getcwd(Process &process, const SyscallArgs &args) {
    const std::string &cwd = process.sandbox.current_directory();
    uint32_t needed = static_cast<uint32_t>(cwd.size() + 1);
    if (args[1] < needed) return process.fail(ERANGE);
    if (!process.memory.write(args[0], cwd.c_str(), needed)) return process.fail(EFAULT);
    return static_cast<int32_t>(needed);
}

// Creates or replaces the file with exactly `count` bytes; the result is
// the count.
int32_t sys_writefile(Process &process, const SyscallArgs &args) {
    auto path = guest_path(process, args[0]);
    if (!path) return -1;
    if (!process.memory.usable(args[1], args[2], kAccessRead)) return process.fail(EFAULT);
    std::vector<uint8_t> content(args[2]);
    if (!process.memory.read(args[1], content.data(), args[2])) return process.fail(EFAULT);
    if (process.sandbox.replace_file(*path, content.data(), content.size()) != 0) return process.fail(errno);
    return static_cast<int32_t>(args[2]);
}

// A file-system stream is a descriptor on a new (or emptied) file.
int32_t sys_kivfs_stream_begin(Process &process, const SyscallArgs &args) {
    auto path = guest_path(process, args[0]);
    if (!path) return -1;
    int fd = process.sandbox.open(*path, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) return process.fail(errno);
    int32_t handle = process.fds.add(fd);
    return handle < 0 ? process.fail(EMFILE) : handle;
}

int32_t sys_kivfs_stream_write(Process &process, const SyscallArgs &args) {
    return sys_write(process, args);
}

int32_t sys_kivfs_stream_end(Process &process, const SyscallArgs &args) {
    return sys_close(process, args);
}

}  // namespace kiv
