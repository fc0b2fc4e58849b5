#include "coverage/locked_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/file.h"
#include "support/io.h"
#include "support/unique_fd.h"

namespace kiv {

namespace {

// Far beyond any record of a real program, and short of exhausting memory.
constexpr uint64_t kMaxRecordSize = uint64_t{1} << 30;
constexpr mode_t kPermissionBits = 07777;

bool system_error(std::string &error) {
    error = std::strerror(errno);
    return false;
}

// Writes `contents` beside `path` and renames it into place.
bool replace_contents(const std::string &path, mode_t mode, std::string_view contents, std::string &error) {
    std::string temporary = path + ".XXXXXX";
    UniqueFd fd(mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) return system_error(error);
    if (fchmod(fd.get(), mode & kPermissionBits) == 0 && write_all(fd.get(), contents) &&
        ::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    system_error(error);
    ::unlink(temporary.c_str());
    return false;
}

}  // namespace

// The new contents go to a temporary file that is renamed over the old
// one, so a process killed while it writes leaves the record as it was.
// The lock belongs to the file it was taken on: a process that waited for
// it while another replaced the file starts again on the new one.
bool update_locked_file(const std::string &path, const FileChange &change, std::string &error) {
    for (;;) {
        // Not blocking on a fifo put there since: reading it refuses it.
        UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644));
        if (!fd.valid()) return system_error(error);
        int locked;
        while ((locked = flock(fd.get(), LOCK_EX)) != 0 && errno == EINTR) {
        }
        struct stat held, named;
        if (locked != 0 || fstat(fd.get(), &held) != 0) return system_error(error);
        if (::stat(path.c_str(), &named) != 0 || named.st_ino != held.st_ino || named.st_dev != held.st_dev) continue;
        Result<std::vector<uint8_t>> current = read_file(fd.get(), kMaxRecordSize);
        if (!current) {
            error = current.error();
            return false;
        }
        auto changed = change(std::string_view(reinterpret_cast<const char *>(current->data()), current->size()),
                              error);
        return changed && replace_contents(path, held.st_mode, *changed, error);
    }
}

}  // namespace kiv
