#include "support/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/io.h"
#include "support/unique_fd.h"

namespace kiv {

Result<std::vector<uint8_t>> read_file(const std::string &path, uint64_t max_size) {
    // Opened without waiting: a fifo would otherwise wait for a writer
    // before it could be refused.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) return Failure{std::strerror(errno)};
    return read_file(fd.get(), max_size);
}

Result<std::vector<uint8_t>> read_file(int fd, uint64_t max_size) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return Failure{"not a regular file"};
    if (static_cast<uint64_t>(info.st_size) > max_size) return Failure{"file too large for an executable"};
    std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
    auto got = read_all_at(fd, bytes, 0);
    if (!got) return Failure{std::strerror(errno)};
    if (*got < bytes.size()) return Failure{"file shrank while being read"};
    return bytes;
}

}  // namespace kiv
