// gdb over TCP on the loopback address: waiting for the one connection,
// the connected socket as a session's channel, and the watch on the peer
// while the program runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "debug/gdb_stub.h"
#include "support/unique_fd.h"

namespace kiv {

// Serves gdb on `socket` (owned by the caller) until the session ends, or
// until `cancel_fd` becomes readable: the time limit counts the time spent
// in the debugger too.
SessionEnd serve_gdb(int socket, int cancel_fd, DebugTarget &target);

// Listens on 127.0.0.1:port (0: any free port) and waits for one connection;
// `announce` gets the port actually listened on before the wait. Gives up
// when `cancel_fd` becomes readable. The connected socket, or nullopt with
// `error` set (empty when the wait was given up).
std::optional<UniqueFd> accept_gdb(uint16_t port, int cancel_fd, void (*announce)(uint16_t port), std::string &error);

namespace gdb {

// While the program runs, anything from the peer on `socket` stops it (gdb
// sends only Ctrl-C then; input that came before the run counts too), and
// a hang-up abandons the program. The request is repeated until the watch
// ends, as one made just before the emulator starts would be lost.
class PeerWatch {
public:
    PeerWatch(int socket, DebugTarget &target, bool input_waiting);
    ~PeerWatch();
    PeerWatch(const PeerWatch &) = delete;
    PeerWatch &operator=(const PeerWatch &) = delete;

private:
    void watch(bool input_waiting);

    int socket_;
    DebugTarget &target_;
    UniqueFd wake_;
    std::thread thread_;
};

}  // namespace gdb

}  // namespace kiv
