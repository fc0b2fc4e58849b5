// AFL++'s fork-server protocol, target side. AFL++ starts the target once
// with a control pipe on descriptor 198 and a status pipe on 199; the
// target, ready to run, says hello on 199 (with its options: the map
// size), then for each execution reads a word on 198, forks, writes the
// child's pid and, once the child has ended or stopped, its wait status.
// A child that stops itself (SIGSTOP) is a persistent one: the next
// execution continues it (SIGCONT) instead of forking, unless AFL++'s word
// says it killed it meanwhile.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>

namespace kiv {

inline constexpr int kForkServerControlFd = 198;
inline constexpr int kForkServerStatusFd = 199;

// The options word of the hello: "options follow", and the map size.
inline constexpr uint32_t kForkServerOptions = 0x80000001;
inline constexpr uint32_t kForkServerMapSize = 0x40000000;
// The map size as the hello carries it (AFL++'s FS_OPT_SET_MAPSIZE).
constexpr uint32_t fork_server_hello(uint32_t map_size) {
    return kForkServerOptions | kForkServerMapSize | ((map_size - 1) << 1);
}

class ForkServer {
public:
    ForkServer(int control_fd = kForkServerControlFd, int status_fd = kForkServerStatusFd)
        : control_fd_(control_fd), status_fd_(status_fd) {}

    // Says hello; false when nobody listens on the status descriptor (no
    // fork server wanted: the target runs once).
    bool greet(uint32_t map_size) const;

    enum class Role { Child, ServerDone };
    // Serves executions until AFL++ closes the control pipe (ServerDone);
    // returns Child in each new child, with both descriptors closed.
    // `before_fork` runs in the server before each fork.
    Role serve(const std::function<void()> &before_fork);

    // In a persistent child: this execution is over; returns when the next
    // one starts.
    static void end_execution();

private:
    bool read_word(uint32_t &word) const;
    bool write_word(uint32_t word) const;

    int control_fd_;
    int status_fd_;
    pid_t child_ = -1;
    bool child_stopped_ = false;
};

}  // namespace kiv
