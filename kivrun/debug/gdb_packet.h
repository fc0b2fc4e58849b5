// The framing of gdb's remote protocol: packets as $payload#checksum,
// acknowledged with '+' or '-'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kiv::gdb {

// The longest packet accepted, announced as PacketSize; longer ones are
// refused, so no peer makes a buffer grow without bound.
inline constexpr size_t kMaxPacket = 0x4000;
// The error reply to a packet that does not parse (or a request refused).
inline constexpr const char *kMalformed = "E01";

// Where a connection's bytes come from and go to: a socket, or memory for
// a test that needs no socket.
class Channel {
public:
    virtual ~Channel() = default;
    // Waits for bytes and stores them in `buffer`: their count, or 0 once
    // the peer is gone or the wait was given up (see given_up()).
    virtual size_t receive(std::span<char> buffer) = 0;
    // Whatever cannot be sent shows as the peer being gone later.
    virtual void send(std::string_view bytes) = 0;
    // Whether the run is being stopped, so that nobody waits for the peer
    // any more.
    virtual bool given_up() = 0;
    // Readable when the peer sends or hangs up, for watching it while the
    // program runs; -1 when there is none to watch.
    virtual int descriptor() const = 0;
};

// One peer on a channel (owned by the caller).
class Connection {
public:
    explicit Connection(Channel &channel) : channel_(channel) {}

    // The next intact packet's payload, unescaped; nullopt once the peer is
    // gone. A damaged packet is refused with '-' for the peer to send again.
    std::optional<std::string> receive();
    // Whether bytes already arrived that no packet has taken yet.
    bool input_waiting() const { return begin_ != end_; }
    void send(std::string_view payload);

private:
    struct Frame {
        std::string payload;
        bool intact;
        bool oversized;
    };

    std::optional<Frame> frame();
    static std::string unescape(std::string_view escaped);
    std::optional<char> next_byte();
    void send_raw(std::string_view bytes);

    Channel &channel_;
    char buffer_[4096];
    size_t begin_ = 0, end_ = 0;
    std::string last_sent_;
};

}  // namespace kiv::gdb
