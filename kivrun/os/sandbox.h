// The guest's file system: one host directory that is the guest's root.
// Guest paths are made absolute against the guest's current directory and
// normalised; a ".." above the root fails. The rest of the walk is done by
// the host kernel with openat2(RESOLVE_BENEATH), so a symbolic link that
// points outside (or is absolute) fails too, without a check-then-use gap.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/unique_fd.h"

namespace kiv {

class Sandbox {
public:
    // The longest guest path it takes, in bytes.
    static constexpr uint32_t kMaxPath = 4096;

    // Opens `root`; false with a message when it is not a usable directory.
    bool open_root(const std::string &root, std::string &error);
    // Takes over a root opened elsewhere (a parent's) and its current
    // directory, exactly as the parent had it.
    void adopt(int root_fd, std::string cwd);
    int root() const { return root_.get(); }

    // The guest path relative to the root ("." for the root itself), or
    // nullopt when it is empty, too long or climbs above the root.
    std::optional<std::string> resolve(std::string_view guest_path) const;

    // A host descriptor or -1, with errno set. A created file gets mode 0644.
    int open(std::string_view guest_path, int flags) const;

    // Each returns 0 or -1, with errno set.
    int make_directory(std::string_view guest_path);
    int remove_file(std::string_view guest_path);
    int remove_directory(std::string_view guest_path);
    int make_fifo(std::string_view guest_path);
    int change_directory(std::string_view guest_path);
    // Creates or replaces the file with exactly these bytes: written to a
    // temporary name beside it and renamed into place, so a failure never
    // leaves a partial file or destroys the old one.
    int replace_file(std::string_view guest_path, const void *data, size_t size) const;

    const std::string &current_directory() const { return cwd_; }

private:
    // Opens the directory that holds the last component of the path, and
    // names that component; -1 when there is no such directory or the path
    // names the root itself.
    int open_parent(std::string_view guest_path, std::string &leaf) const;
    // Runs `operation` on the parent directory and the last component.
    int at_parent(std::string_view guest_path, int (*operation)(int directory, const char *leaf));

    UniqueFd root_;
    std::string cwd_ = "/";
};

}  // namespace kiv
