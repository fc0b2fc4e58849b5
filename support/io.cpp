#include "support/io.h"

#include <unistd.h>

#include <cerrno>

namespace kiv {

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t done = ::write(fd, bytes.data(), bytes.size());
        if (done < 0 && errno == EINTR) continue;
        if (done == 0) errno = EIO;
        if (done <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(done));
    }
    return true;
}

std::optional<size_t> read_all_at(int fd, std::span<uint8_t> buffer, uint64_t offset) {
    size_t done = 0;
    while (done < buffer.size()) {
        ssize_t got = ::pread(fd, buffer.data() + done, buffer.size() - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

}  // namespace kiv
