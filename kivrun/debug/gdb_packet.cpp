#include "debug/gdb_packet.h"

#include "support/hex.h"

namespace kiv::gdb {

std::optional<std::string> Connection::receive() {
    for (;;) {
        auto byte = next_byte();
        if (!byte) return std::nullopt;
        if (*byte == '-') send_raw(last_sent_);
        if (*byte != '$') continue;  // acknowledgements, a stray Ctrl-C, noise
        auto packet = frame();
        if (!packet) return std::nullopt;
        if (!packet->intact) {
            send_raw("-");
        } else if (packet->oversized) {
            send_raw("+");
            send(kMalformed);
        } else {
            send_raw("+");
            return unescape(packet->payload);
        }
    }
}

void Connection::send(std::string_view payload) {
    std::string packet = "$";
    uint8_t sum = 0;
    for (char c : payload) {
        if (c == '$' || c == '#' || c == '}' || c == '*') {
            packet += '}';
            sum += '}';
            c ^= 0x20;
        }
        packet += c;
        sum += static_cast<uint8_t>(c);
    }
    last_sent_ = packet + "#" + hex_byte(sum);
    send_raw(last_sent_);
}

// The rest of a packet after its '$'.
std::optional<Connection::Frame> Connection::frame() {
    Frame frame{"", false, false};
    uint8_t sum = 0;
    for (;;) {
        auto byte = next_byte();
        if (!byte) return std::nullopt;
        if (*byte == '#') break;
        if (*byte == '$') {  // the previous packet was cut off: start over
            frame.payload.clear();
            frame.oversized = false;
            sum = 0;
            continue;
        }
        sum += static_cast<uint8_t>(*byte);
        if (frame.payload.size() < kMaxPacket) frame.payload += *byte;
        else frame.oversized = true;
    }
    auto high = next_byte();
    auto low = next_byte();
    if (!high || !low) return std::nullopt;
    const char checksum[] = {*high, *low};
    frame.intact = parse_hex(std::string_view(checksum, sizeof checksum)) == sum;
    return frame;
}

std::string Connection::unescape(std::string_view escaped) {
    std::string text;
    for (size_t i = 0; i < escaped.size(); i++)
        text += escaped[i] == '}' && i + 1 < escaped.size() ? static_cast<char>(escaped[++i] ^ 0x20) : escaped[i];
    return text;
}

std::optional<char> Connection::next_byte() {
    if (begin_ == end_) {
        size_t got = channel_.receive(buffer_);
        if (got == 0) return std::nullopt;
        begin_ = 0;
        end_ = got;
    }
    return buffer_[begin_++];
}

void Connection::send_raw(std::string_view bytes) { channel_.send(bytes); }

}  // namespace kiv::gdb
