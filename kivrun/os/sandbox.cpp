#include "os/sandbox.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "support/io.h"

namespace kiv {

namespace {

constexpr unsigned kNewFileMode = 0644;
constexpr unsigned kNewDirectoryMode = 0755;

int open_beneath(int root_fd, const std::string &relative, int flags, unsigned mode) {
    open_how how{};
    how.flags = static_cast<uint32_t>(flags | O_CLOEXEC);
    how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    int fd;
    do {
        fd = static_cast<int>(syscall(SYS_openat2, root_fd, relative.c_str(), &how, sizeof how));
    } while (fd < 0 && errno == EAGAIN);
    return fd;
}

// The replacement of a regular file keeps its permission bits and, where
// the host lets kivrun set it, its owner.
bool keep_attributes(int directory, const std::string &name, int replacement) {
    struct stat old;
    if (fstatat(directory, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(old.st_mode)) return true;
    if (fchown(replacement, old.st_uid, old.st_gid) != 0 && errno != EPERM) return false;
    return fchmod(replacement, old.st_mode & 07777) == 0;
}

// Makes a rename in the directory durable. Best effort: the file is in
// place either way.
void sync_directory(int directory) {
    UniqueFd readable(openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (readable.valid()) fsync(readable.get());
}

}  // namespace

bool Sandbox::open_root(const std::string &root, std::string &error) {
    root_.reset(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root_.valid()) {
        error = "cannot use '" + root + "' as the guest's root: " + std::strerror(errno);
        return false;
    }
    return true;
}

void Sandbox::adopt(int root_fd, std::string cwd) {
    root_.reset(root_fd);
    cwd_ = std::move(cwd);
}

std::optional<std::string> Sandbox::resolve(std::string_view guest_path) const {
    if (guest_path.empty() || guest_path.size() > kMaxPath) return std::nullopt;
    std::string joined = guest_path.front() == '/' ? std::string(guest_path) : cwd_ + "/" + std::string(guest_path);
    std::vector<std::string_view> parts;
    std::string_view rest = joined;
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (parts.empty()) return std::nullopt;
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    if (parts.empty()) return ".";
    std::string relative;
    for (auto part : parts) {
        if (!relative.empty()) relative += '/';
        relative += part;
    }
    return relative;
}

namespace {

// Why resolve() refused a path, as Linux would say it: an empty path names
// nothing, a long one is too long, anything else leaves the root.
int refusal(std::string_view guest_path) {
    if (guest_path.empty()) return ENOENT;
    return guest_path.size() > Sandbox::kMaxPath ? ENAMETOOLONG : EXDEV;
}

}  // namespace

int Sandbox::open(std::string_view guest_path, int flags) const {
    auto relative = resolve(guest_path);
    if (!relative) {
        errno = refusal(guest_path);
        return -1;
    }
    return open_beneath(root_.get(), *relative, flags, kNewFileMode);
}

int Sandbox::open_parent(std::string_view guest_path, std::string &leaf) const {
    auto relative = resolve(guest_path);
    if (!relative || *relative == ".") {
        errno = relative ? EBUSY : refusal(guest_path);
        return -1;
    }
    size_t slash = relative->rfind('/');
    std::string parent = slash == std::string::npos ? "." : relative->substr(0, slash);
    leaf = slash == std::string::npos ? *relative : relative->substr(slash + 1);
    return open_beneath(root_.get(), parent, O_PATH | O_DIRECTORY, 0);
}

int Sandbox::at_parent(std::string_view guest_path, int (*operation)(int directory, const char *leaf)) {
    std::string leaf;
    UniqueFd parent(open_parent(guest_path, leaf));
    if (!parent.valid()) return -1;
    return operation(parent.get(), leaf.c_str());
}

int Sandbox::make_directory(std::string_view guest_path) {
    return at_parent(guest_path,
                     [](int directory, const char *leaf) { return mkdirat(directory, leaf, kNewDirectoryMode); });
}

int Sandbox::remove_file(std::string_view guest_path) {
    return at_parent(guest_path, [](int directory, const char *leaf) { return unlinkat(directory, leaf, 0); });
}

int Sandbox::remove_directory(std::string_view guest_path) {
    return at_parent(guest_path,
                     [](int directory, const char *leaf) { return unlinkat(directory, leaf, AT_REMOVEDIR); });
}

int Sandbox::make_fifo(std::string_view guest_path) {
    return at_parent(guest_path,
                     [](int directory, const char *leaf) { return mkfifoat(directory, leaf, kNewFileMode); });
}

int Sandbox::change_directory(std::string_view guest_path) {
    auto relative = resolve(guest_path);
    if (!relative) {
        errno = refusal(guest_path);
        return -1;
    }
    UniqueFd directory(open_beneath(root_.get(), *relative, O_PATH | O_DIRECTORY, 0));
    if (!directory.valid()) return -1;
    cwd_ = *relative == "." ? "/" : "/" + *relative;
    return 0;
}

int Sandbox::replace_file(std::string_view guest_path, const void *data, size_t size) const {
    // A path ending in '/' names a directory: never a file to replace.
    if (!guest_path.empty() && guest_path.back() == '/') {
        errno = EISDIR;
        return -1;
    }
    std::string leaf;
    UniqueFd parent_fd(open_parent(guest_path, leaf));
    if (!parent_fd.valid()) return -1;
    int parent = parent_fd.get();
    static thread_local std::mt19937_64 random{std::random_device{}()};
    std::string temporary = "." + leaf.substr(0, 200) + ".kivrun-" + std::to_string(random() % 1000000000);
    int fd = openat(parent, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kNewFileMode);
    if (fd < 0) return -1;
    // The new contents are on the disk before the name points at them.
    bool written = keep_attributes(parent, leaf, fd) &&
                   write_all(fd, std::string_view(static_cast<const char *>(data), size)) && fsync(fd) == 0;
    int saved = errno;
    if (::close(fd) != 0) written = false;
    if (!written || renameat(parent, temporary.c_str(), parent, leaf.c_str()) != 0) {
        saved = written ? errno : saved;
        unlinkat(parent, temporary.c_str(), 0);
        errno = saved;
        return -1;
    }
    sync_directory(parent);
    return 0;
}

}  // namespace kiv
