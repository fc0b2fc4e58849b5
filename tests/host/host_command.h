// Running a host command from a test: standard input from /dev/null,
// standard output and error captured separately.
#pragma once

#include <fcntl.h>
#include <signal.h>
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

// A command left running while the test talks to it: standard error comes
// through a pipe, to be read line by line as it is written. argv[0] is
// looked up in PATH when it has no '/'. Killed if still running at the end.
class BackgroundCommand {
public:
    explicit BackgroundCommand(std::vector<std::string> argv) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return;
        err_ = ends[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out_, 1);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
        std::vector<char *> words;
        for (auto &word : argv) words.push_back(word.data());
        words.push_back(nullptr);
        if (posix_spawnp(&pid_, words[0], &actions, nullptr, words.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(ends[1]);
    }
    ~BackgroundCommand() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        if (err_ >= 0) close(err_);
    }
    BackgroundCommand(const BackgroundCommand &) = delete;
    BackgroundCommand &operator=(const BackgroundCommand &) = delete;

    // The next line of standard error without its newline; "" at its end.
    std::string read_error_line() {
        std::string line;
        char c;
        while (::read(err_, &c, 1) == 1 && c != '\n') line += c;
        err_read_ += line + "\n";
        return line;
    }

    // Waits for the command to end.
    CommandRun finish() {
        std::string err = err_read_ + read_all_from_start(err_);
        int status = -1;
        if (pid_ > 0) waitpid(pid_, &status, 0);
        pid_ = -1;
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_all_from_start(out_), err};
    }

private:
    pid_t pid_ = -1;
    int out_ = memfd_create("command-out", MFD_CLOEXEC);
    int err_ = -1;
    std::string err_read_;
};

inline CommandRun run_command(std::vector<std::string> argv) { return BackgroundCommand(std::move(argv)).finish(); }

}  // namespace kiv::test
