// Running a host command from a test: standard input from /dev/null,
// standard output and error captured separately.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char **environ;

namespace kiv::test {

struct CommandRun {
    int status;  // the exit status, -1 when the command could not run or was killed
    std::string out;
    std::string err;
};

inline std::string read_all_from_start(int fd) {
    std::string text;
    char chunk[4096];
    lseek(fd, 0, SEEK_SET);
    ssize_t got;
    while ((got = ::read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(got));
    return text;
}

// argv[0] is looked up in PATH when it has no '/'.
inline CommandRun run_command(std::vector<std::string> argv) {
    int out = memfd_create("command-out", 0);
    int err = memfd_create("command-err", 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    std::vector<char *> words;
    for (auto &word : argv) words.push_back(word.data());
    words.push_back(nullptr);
    pid_t pid;
    int status = -1;
    if (posix_spawnp(&pid, words[0], &actions, nullptr, words.data(), environ) == 0) waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    CommandRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_all_from_start(out), read_all_from_start(err)};
    close(out);
    close(err);
    return run;
}

}  // namespace kiv::test
