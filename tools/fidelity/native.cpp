#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "machines.h"

extern char **environ;

namespace fidelity {

namespace {

bool write_all(int fd, const void *bytes, size_t length) {
    const auto *cursor = static_cast<const uint8_t *>(bytes);
    while (length > 0) {
        ssize_t written = ::write(fd, cursor, length);
        if (written <= 0) return false;
        cursor += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

bool read_all(int fd, void *bytes, size_t length) {
    auto *cursor = static_cast<uint8_t *>(bytes);
    while (length > 0) {
        ssize_t got = ::read(fd, cursor, length);
        if (got <= 0) return false;
        cursor += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

// The cases and the results go through memory files: no pipe to keep
// flowing both ways.
std::optional<std::vector<fid_result>> run_natively(const std::string &harness, const std::vector<Case> &cases,
                                                    std::string &why) {
    int in = memfd_create("fidelity-cases", MFD_CLOEXEC), out = memfd_create("fidelity-results", MFD_CLOEXEC);
    bool written = in >= 0 && out >= 0;
    for (size_t i = 0; written && i < cases.size(); i++)
        written = write_all(in, &cases[i].bytes, sizeof cases[i].bytes);
    std::optional<std::vector<fid_result>> results;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    char *argv[] = {const_cast<char *>(harness.c_str()), nullptr};
    pid_t child = -1;
    int status = -1;
    int spawned = written && lseek(in, 0, SEEK_SET) == 0
                      ? posix_spawn(&child, harness.c_str(), &actions, nullptr, argv, environ)
                      : EIO;
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        why = "cannot run " + harness + ": " + strerror(spawned);
    } else if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        // An exec that fails after the spawn (no i386 support) ends the child with 127.
        why = harness + " did not run to its end (status " + std::to_string(status) +
              "): this host may not run i386 programs";
    } else {
        results.emplace(cases.size());
        if (lseek(out, 0, SEEK_SET) != 0 || !read_all(out, results->data(), results->size() * sizeof(fid_result))) {
            why = harness + " gave fewer results than cases";
            results.reset();
        }
    }
    if (in >= 0) close(in);
    if (out >= 0) close(out);
    return results;
}

}  // namespace fidelity
