// Running a host command from a test: standard input from /dev/null,
// standard output and error captured separately (or the standard
// descriptors arranged otherwise, see CommandOptions). A command that has
// not ended by its deadline is killed and fails the test, naming itself,
// instead of hanging with it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
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

using Deadline = std::chrono::steady_clock::time_point;
using Seconds = std::chrono::duration<double>;

// Long enough for any ordinary run on a loaded machine; a command that
// knows better says so in its CommandOptions.
constexpr Seconds kDefaultCommandTime{10};

// The sanitizers slow the host programs down several times: every
// deadline is stretched by this factor in such a build.
#ifdef KIV_SANITIZED
constexpr double kHostSlowdown = 4;
#else
constexpr double kHostSlowdown = 1;
#endif

inline int milliseconds_left(Deadline deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// What the pipe `fd` brings until its end or the deadline.
inline std::string read_until_end(int fd, Deadline deadline) {
    std::string text;
    char chunk[4096];
    pollfd watched{fd, POLLIN, 0};
    while (poll(&watched, 1, milliseconds_left(deadline)) > 0) {
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0) break;
        text.append(chunk, static_cast<size_t>(got));
    }
    return text;
}

// The wait status of `pid`; -1 when it had to be killed at the deadline.
inline int wait_until(pid_t pid, Deadline deadline) {
    int status = -1;
    while (waitpid(pid, &status, WNOHANG) != pid) {
        if (milliseconds_left(deadline) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        usleep(1000);
    }
    return status;
}

// How the command runs, besides the defaults.
struct CommandOptions {
    int out = -1;                        // standard output goes here instead of being captured
    bool closed = false;                 // 0, 1 and 2 all start closed
    Seconds time = kDefaultCommandTime;  // from its start to its end, before any slowdown
};

inline std::string command_line(const std::vector<std::string> &argv) {
    std::string line;
    for (const auto &word : argv) line += (line.empty() ? "" : " ") + word;
    return line;
}

// A command left running while the test talks to it: standard error comes
// through a pipe, to be read line by line as it is written. argv[0] is
// looked up in PATH when it has no '/'. Killed if still running at the end.
class BackgroundCommand {
public:
    explicit BackgroundCommand(std::vector<std::string> argv, CommandOptions options = {})
        : line_(command_line(argv)),
          time_(options.time * kHostSlowdown),
          deadline_(std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::milliseconds>(time_)) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return;
        err_ = ends[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (options.closed) {
            for (int fd : {0, 1, 2}) posix_spawn_file_actions_addclose(&actions, fd);
        } else {
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_adddup2(&actions, options.out >= 0 ? options.out : out_, 1);
            posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
        }
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

    // The next line of standard error without its newline; "" at its end
    // or at the deadline.
    std::string read_error_line() {
        std::string line;
        char c;
        pollfd watched{err_, POLLIN, 0};
        while (poll(&watched, 1, milliseconds_left(deadline_)) > 0 && ::read(err_, &c, 1) == 1 && c != '\n') line += c;
        err_read_ += line + "\n";
        return line;
    }

    // Waits for the command to end, or kills it at its deadline.
    CommandRun finish() {
        std::string err = err_read_ + read_until_end(err_, deadline_);
        int status = pid_ > 0 ? wait_until(pid_, deadline_) : -1;
        if (pid_ > 0 && status == -1)
            ADD_FAILURE() << "killed after its deadline of " << time_.count() << " s: " << line_
                          << "\nstandard error:\n"
                          << err;
        pid_ = -1;
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_all_from_start(out_), err};
    }

private:
    std::string line_;
    Seconds time_;
    Deadline deadline_;
    pid_t pid_ = -1;
    int out_ = memfd_create("command-out", MFD_CLOEXEC);
    int err_ = -1;
    std::string err_read_;
};

inline CommandRun run_command(std::vector<std::string> argv, CommandOptions options = {}) {
    return BackgroundCommand(std::move(argv), options).finish();
}

}  // namespace kiv::test
