#include "run/fork_server.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace kiv {

bool ForkServer::read_word(uint32_t &word) const {
    ssize_t got;
    do got = read(control_fd_, &word, sizeof word);
    while (got < 0 && errno == EINTR);
    return got == sizeof word;
}

bool ForkServer::write_word(uint32_t word) const {
    ssize_t put;
    do put = write(status_fd_, &word, sizeof word);
    while (put < 0 && errno == EINTR);
    return put == sizeof word;
}

bool ForkServer::greet(uint32_t map_size) const { return write_word(fork_server_hello(map_size)); }

// A child left behind by a server that went away would run on unwatched:
// it dies with the server.
ForkServer::Role ForkServer::serve(const std::function<void()> &before_fork) {
    uint32_t killed = 0;
    while (read_word(killed)) {
        if (child_stopped_ && killed != 0) {
            waitpid(child_, nullptr, 0);
            child_stopped_ = false;
        }
        if (child_stopped_) {
            kill(child_, SIGCONT);
            child_stopped_ = false;
        } else {
            pid_t server = getpid();
            before_fork();
            child_ = fork();
            if (child_ == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (getppid() != server) _exit(1);
                close(control_fd_);
                close(status_fd_);
                return Role::Child;
            }
            if (child_ < 0) return Role::ServerDone;
        }
        int status = 0;
        if (!write_word(static_cast<uint32_t>(child_)) || waitpid(child_, &status, WUNTRACED) < 0) break;
        child_stopped_ = WIFSTOPPED(status);
        if (!write_word(static_cast<uint32_t>(status))) break;
    }
    if (child_ > 0) kill(child_, SIGKILL);
    return Role::ServerDone;
}

void ForkServer::end_execution() { raise(SIGSTOP); }

}  // namespace kiv
