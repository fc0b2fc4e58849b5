#include "debug/gdb_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "debug/gdb_packet.h"

namespace kiv {

namespace {

// How often a stop request is repeated while the program has not stopped.
constexpr int kStopRepeatMilliseconds = 10;

// A connected socket; every wait for the peer also watches `cancel_fd`.
class SocketChannel final : public gdb::Channel {
public:
    SocketChannel(int socket, int cancel_fd) : socket_(socket), cancel_fd_(cancel_fd) {}

    size_t receive(std::span<char> buffer) override {
        pollfd watched[2] = {{socket_, POLLIN, 0}, {cancel_fd_, POLLIN, 0}};
        for (;;) {
            int ready = poll(watched, 2, -1);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0 || watched[1].revents != 0) return 0;
            ssize_t got = ::recv(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            return got > 0 ? static_cast<size_t>(got) : 0;
        }
    }

    // A peer that reads nothing cannot hold the run either: once the socket
    // is full, the wait for room ends with the run.
    void send(std::string_view bytes) override {
        while (!bytes.empty()) {
            ssize_t sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0) {
                bytes.remove_prefix(static_cast<size_t>(sent));
                continue;
            }
            if (sent == 0 || (errno != EINTR && errno != EAGAIN)) return;
            pollfd watched[2] = {{socket_, POLLOUT, 0}, {cancel_fd_, POLLIN, 0}};
            if ((poll(watched, 2, -1) < 0 && errno != EINTR) || watched[1].revents != 0) return;
        }
    }

    bool given_up() override {
        pollfd cancel{cancel_fd_, POLLIN, 0};
        return poll(&cancel, 1, 0) == 1;
    }

    int descriptor() const override { return socket_; }

private:
    int socket_;
    int cancel_fd_;
};

// A socket listening on 127.0.0.1:port, or an invalid one with errno set.
UniqueFd listen_on_loopback(uint16_t port) {
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listener.valid()) return listener;
    int on = 1;
    setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(listener.get(), 1) != 0)
        return UniqueFd();
    return listener;
}

// The port a socket is bound to, or nullopt with errno set.
std::optional<uint16_t> bound_port(int socket) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(socket, reinterpret_cast<sockaddr *>(&address), &size) != 0) return std::nullopt;
    return ntohs(address.sin_port);
}

}  // namespace

SessionEnd serve_gdb(int socket, int cancel_fd, DebugTarget &target) {
    SocketChannel channel(socket, cancel_fd);
    return serve_gdb(channel, target);
}

std::optional<UniqueFd> accept_gdb(uint16_t port, int cancel_fd, void (*announce)(uint16_t port), std::string &error) {
    std::string where = "127.0.0.1:" + std::to_string(port);
    auto failed = [&](const char *step) -> std::optional<UniqueFd> {
        error = std::string("cannot ") + step + " gdb on " + where + ": " + std::strerror(errno);
        return std::nullopt;
    };
    UniqueFd listener = listen_on_loopback(port);
    std::optional<uint16_t> listened = listener.valid() ? bound_port(listener.get()) : std::nullopt;
    if (!listened) return failed("listen for");
    announce(*listened);

    pollfd watched[2] = {{listener.get(), POLLIN, 0}, {cancel_fd, POLLIN, 0}};
    while (poll(watched, 2, -1) < 0)
        if (errno != EINTR) return failed("wait for");
    if (watched[1].revents != 0) {
        error.clear();
        return std::nullopt;
    }
    UniqueFd peer(accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!peer.valid()) return failed("accept");
    // Every reply is a small packet waiting for an answer: no batching.
    int on = 1;
    setsockopt(peer.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return peer;
}

namespace gdb {

PeerWatch::PeerWatch(int socket, DebugTarget &target, bool input_waiting)
    : socket_(socket), target_(target), wake_(eventfd(0, EFD_CLOEXEC)) {
    if (wake_.valid()) thread_ = std::thread([this, input_waiting] { watch(input_waiting); });
}

PeerWatch::~PeerWatch() {
    if (!wake_.valid()) return;
    uint64_t one = 1;
    (void)!::write(wake_.get(), &one, sizeof one);
    thread_.join();
}

void PeerWatch::watch(bool input_waiting) {
    bool gone = false;
    if (!input_waiting) {
        pollfd watched[2] = {{socket_, POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        while (poll(watched, 2, -1) < 0 && errno == EINTR) {
        }
        if (watched[1].revents != 0) return;
        char byte;
        ssize_t peeked = ::recv(socket_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        gone = peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }
    pollfd wake{wake_.get(), POLLIN, 0};
    do gone ? target_.abandon() : target_.interrupt();
    while (poll(&wake, 1, kStopRepeatMilliseconds) == 0);
}

}  // namespace gdb

}  // namespace kiv
