#include "debug/gdb_stub.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "debug/gdb_packet.h"
#include "debug/registers.h"
#include "support/hex.h"
#include "support/text.h"

namespace kiv {

namespace {

using gdb::Channel;
using gdb::Connection;
using gdb::kMalformed;
using gdb::kMaxPacket;

// A memory read answers at most this many bytes (two hex digits each).
constexpr size_t kMaxMemoryReply = kMaxPacket / 2 - 16;
constexpr char kThreadField[] = "thread:1;";
// Error replies besides kMalformed: an address outside the program's
// memory, an unknown qXfer object.
constexpr const char *kBadAddress = "E14";
constexpr const char *kUnknownAnnex = "E00";
// How often a stop request is repeated while the program has not stopped.
constexpr int kStopRepeatMilliseconds = 10;

struct FlagBit {
    const char *name;
    uint32_t bit;
};

constexpr FlagBit kEflags[] = {
    {"CF", 0},  {"", 1},    {"PF", 2},  {"AF", 4},   {"ZF", 6},   {"SF", 7},   {"TF", 8},  {"IF", 9},
    {"DF", 10}, {"OF", 11}, {"NT", 14}, {"RF", 16},  {"VM", 17},  {"AC", 18},  {"VIF", 19}, {"VIP", 20},
    {"ID", 21},
};

// i386 Linux's siginfo_t for a fault: si_signo, si_errno, si_code, then
// si_addr, in 128 bytes.
constexpr size_t kSiginfoSize = 128;
constexpr size_t kSiginfoCode = 8, kSiginfoAddress = 12;

std::string linux_siginfo(const DebugStop &fault) {
    std::string bytes(kSiginfoSize, '\0');
    auto put = [&bytes](size_t offset, uint32_t value) {
        for (size_t i = 0; i < 4; i++) bytes[offset + i] = static_cast<char>(value >> (8 * i));
    };
    put(0, static_cast<uint32_t>(fault.signal));
    put(kSiginfoCode, static_cast<uint32_t>(fault.signal_code));
    put(kSiginfoAddress, fault.data_address);
    return bytes;
}

std::string target_description() {
    std::string xml =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE target SYSTEM \"gdb-target.dtd\">\n<target version=\"1.0\">\n"
        "<architecture>i386</architecture>\n<feature name=\"org.gnu.gdb.i386.core\">\n"
        "<flags id=\"i386_eflags\" size=\"4\">\n";
    for (const auto &flag : kEflags) {
        std::string bit = std::to_string(flag.bit);
        xml += "<field name=\"" + std::string(flag.name) + "\" start=\"" + bit + "\" end=\"" + bit + "\"/>\n";
    }
    xml += "</flags>\n";
    for (const auto &reg : kRegisters)
        xml += "<reg name=\"" + std::string(reg.name) + "\" bitsize=\"" + std::to_string(reg.bits) + "\" type=\"" +
               reg.type + "\"/>\n";
    return xml + "</feature>\n</target>\n";
}

// Linux signal numbers to the numbers of gdb's remote protocol.
constexpr uint8_t kGdbKill = 9;

struct SignalName {
    int linux_signal;
    uint8_t gdb_signal;
};

constexpr SignalName kSignals[] = {
    {SIGINT, 2}, {SIGILL, 4}, {SIGTRAP, 5}, {SIGFPE, 8}, {SIGKILL, kGdbKill}, {SIGBUS, 10}, {SIGSEGV, 11},
};

std::string gdb_signal(int linux_signal) {
    for (const auto &entry : kSignals)
        if (entry.linux_signal == linux_signal) return hex_byte(entry.gdb_signal);
    return hex_byte(kGdbKill);
}

// A hex number that fits 32 bits.
std::optional<uint32_t> parse_number(std::string_view text) {
    auto value = parse_hex(text, UINT32_MAX);
    if (!value) return std::nullopt;
    return static_cast<uint32_t>(*value);
}

struct Range {
    uint32_t address;
    uint32_t length;
};

// "ADDRESS,LENGTH", both hex.
std::optional<Range> parse_range(std::string_view text) {
    auto parts = split_once(text, ',');
    if (!parts) return std::nullopt;
    auto address = parse_number(parts->first), length = parse_number(parts->second);
    if (!address || !length) return std::nullopt;
    return Range{*address, *length};
}

// A connected socket; every wait for the peer also watches `cancel_fd`.
class SocketChannel final : public Channel {
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

// While the program runs, anything from the peer stops it (gdb sends only
// Ctrl-C then; input that came before the run counts too), and a hang-up
// abandons the program. The request is repeated until the run returns, as
// one made just before the emulator starts would be lost.
class PeerWatch {
public:
    PeerWatch(int socket, DebugTarget &target, bool input_waiting)
        : socket_(socket), target_(target), wake_(eventfd(0, EFD_CLOEXEC)) {
        if (wake_ >= 0) thread_ = std::thread([this, input_waiting] { watch(input_waiting); });
    }
    ~PeerWatch() {
        if (wake_ < 0) return;
        uint64_t one = 1;
        (void)!::write(wake_, &one, sizeof one);
        thread_.join();
        ::close(wake_);
    }
    PeerWatch(const PeerWatch &) = delete;
    PeerWatch &operator=(const PeerWatch &) = delete;

private:
    void watch(bool input_waiting) {
        bool gone = false;
        if (!input_waiting) {
            pollfd watched[2] = {{socket_, POLLIN, 0}, {wake_, POLLIN, 0}};
            while (poll(watched, 2, -1) < 0 && errno == EINTR) {
            }
            if (watched[1].revents != 0) return;
            char byte;
            ssize_t peeked = ::recv(socket_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
            gone = peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        }
        pollfd wake{wake_, POLLIN, 0};
        do gone ? target_.abandon() : target_.interrupt();
        while (poll(&wake, 1, kStopRepeatMilliseconds) == 0);
    }

    int socket_;
    DebugTarget &target_;
    int wake_;
    std::thread thread_;
};

class Session {
public:
    Session(Channel &channel, DebugTarget &target) : channel_(channel), connection_(channel), target_(target) {}

    // A peer that keeps sending cannot hold off the end either: the channel
    // is asked before every packet.
    SessionEnd serve() {
        while (!end_) {
            if (channel_.given_up()) return give_up();
            auto packet = connection_.receive();
            if (!packet) return channel_.given_up() ? give_up() : SessionEnd::Disconnected;
            if (auto reply = answer(*packet)) connection_.send(*reply);
        }
        return *end_;
    }

private:
    struct Command {
        std::string_view prefix;
        std::optional<std::string> (Session::*handler)(std::string_view arguments);
        const char *fixed_reply;  // instead of a handler
    };
    static const Command kCommands[];

    std::optional<std::string> answer(std::string_view packet);

    std::optional<std::string> supported(std::string_view) {
        char reply[96];
        snprintf(reply, sizeof reply,
                 "PacketSize=%zx;qXfer:features:read+;qXfer:siginfo:read+;swbreak+;hwbreak+;vContSupported+",
                 kMaxPacket);
        return reply + std::string(target_.reversible() ? ";ReverseStep+;ReverseContinue+" : "");
    }

    // "target.xml:OFFSET,LENGTH": 'm' and a piece, or 'l' and the last one.
    std::optional<std::string> features(std::string_view arguments) {
        auto parts = split_once(arguments, ':');
        if (!parts || parts->first != "target.xml") return kUnknownAnnex;
        static const std::string kDescription = target_description();
        return object_piece(kDescription, parts->second);
    }

    // ":OFFSET,LENGTH" of the last fault's siginfo ($_siginfo); there is
    // none at other stops.
    std::optional<std::string> siginfo(std::string_view arguments) {
        auto parts = split_once(arguments, ':');
        if (!parts || !parts->first.empty()) return kUnknownAnnex;
        if (last_.kind != DebugStop::Kind::Fault) return kBadAddress;
        return object_piece(linux_siginfo(last_), parts->second);
    }

    // The piece of `object` that "OFFSET,LENGTH" asks for (Connection::send
    // escapes what binary data needs).
    static std::string object_piece(const std::string &object, std::string_view range_text) {
        auto range = parse_range(range_text);
        if (!range) return kMalformed;
        if (range->address >= object.size()) return "l";
        std::string piece = object.substr(range->address, std::min<size_t>(range->length, kMaxMemoryReply));
        bool last = range->address + piece.size() >= object.size();
        return (last ? "l" : "m") + piece;
    }

    std::optional<std::string> status(std::string_view) { return stop_reply(); }

    // gdb hears what it hears of a killed inferior.
    SessionEnd give_up() {
        connection_.send("X" + gdb_signal(SIGKILL));
        return SessionEnd::GivenUp;
    }

    std::string stop_reply() const {
        using Kind = DebugStop::Kind;
        std::string trap = gdb_signal(SIGTRAP) + kThreadField;
        switch (last_.kind) {
        case Kind::Started:
        case Kind::Step: return "T" + trap;
        case Kind::Breakpoint:
            return "T" + trap + (last_.breakpoint == BreakKind::Software ? "swbreak:;" : "hwbreak:;");
        case Kind::Watchpoint: {
            constexpr const char *kWatchNames[] = {"watch", "rwatch", "awatch"};
            char address[16];
            snprintf(address, sizeof address, ":%x;", last_.data_address);
            return "T" + trap + kWatchNames[static_cast<int>(last_.watch)] + address;
        }
        case Kind::Interrupted: return "T" + gdb_signal(SIGINT) + kThreadField;
        case Kind::Fault: return "T" + gdb_signal(last_.signal) + kThreadField;
        case Kind::Exited: return "W" + hex_byte(static_cast<uint8_t>(last_.status));
        case Kind::Ended: return "X" + gdb_signal(last_.signal);
        case Kind::HistoryStart: return "T" + trap + "replaylog:begin;";
        }
        return "X" + gdb_signal(SIGKILL);
    }

    static uint32_t register_bytes(uint32_t number) { return kRegisters[number].bits / 8; }

    // Hex digits, or 'x' for each when the register cannot be read.
    std::string register_text(uint32_t number) {
        std::vector<uint8_t> value(register_bytes(number));
        return target_.read_register(number, value) ? hex_bytes(value) : std::string(value.size() * 2, 'x');
    }

    std::optional<std::string> read_registers(std::string_view) {
        std::string text;
        for (uint32_t number = 0; number < kRegisterCount; number++) text += register_text(number);
        return text;
    }

    // As many whole registers as the packet holds, in order.
    std::optional<std::string> write_registers(std::string_view arguments) {
        auto bytes = decode_hex_bytes(arguments);
        if (!bytes) return kMalformed;
        std::span<const uint8_t> rest(*bytes);
        for (uint32_t number = 0; number < kRegisterCount && rest.size() >= register_bytes(number); number++) {
            if (!target_.write_register(number, rest.first(register_bytes(number)))) return kMalformed;
            rest = rest.subspan(register_bytes(number));
        }
        return "OK";
    }

    std::optional<std::string> read_register(std::string_view arguments) {
        auto number = parse_number(arguments);
        if (!number || *number >= kRegisterCount) return kMalformed;
        return register_text(*number);
    }

    std::optional<std::string> write_register(std::string_view arguments) {
        auto parts = split_once(arguments, '=');
        auto number = parts ? parse_number(parts->first) : std::nullopt;
        auto value = parts ? decode_hex_bytes(parts->second) : std::nullopt;
        if (!number || !value || *number >= kRegisterCount || value->size() != register_bytes(*number)) return kMalformed;
        return target_.write_register(*number, *value) ? "OK" : kMalformed;
    }

    std::optional<std::string> read_memory(std::string_view arguments) {
        auto range = parse_range(arguments);
        if (!range) return kMalformed;
        std::vector<uint8_t> bytes(std::min<size_t>(range->length, kMaxMemoryReply));
        if (!target_.read_memory(range->address, bytes)) return kBadAddress;
        return hex_bytes(bytes);
    }

    std::optional<std::string> write_memory(std::string_view header, std::optional<std::vector<uint8_t>> data) {
        auto range = parse_range(header);
        if (!range || !data || data->size() != range->length) return kMalformed;
        return target_.write_memory(range->address, *data) ? "OK" : kBadAddress;
    }

    std::optional<std::string> write_memory_hex(std::string_view arguments) {
        auto parts = split_once(arguments, ':');
        if (!parts) return kMalformed;
        return write_memory(parts->first, decode_hex_bytes(parts->second));
    }

    std::optional<std::string> write_memory_binary(std::string_view arguments) {
        auto parts = split_once(arguments, ':');
        if (!parts) return kMalformed;
        return write_memory(parts->first, std::vector<uint8_t>(parts->second.begin(), parts->second.end()));
    }

    // "TYPE,ADDRESS,KIND": 0 software and 1 hardware breakpoints, 2 write,
    // 3 read and 4 access watchpoints.
    std::optional<std::string> change_point(std::string_view arguments, bool insert) {
        auto parts = split_once(arguments, ',');
        auto range = parts ? parse_range(parts->second) : std::nullopt;
        if (!parts || !range) return kMalformed;
        if (parts->first == "0" || parts->first == "1") {
            BreakKind kind = parts->first == "0" ? BreakKind::Software : BreakKind::Hardware;
            bool done = insert ? target_.add_breakpoint(kind, range->address)
                               : target_.remove_breakpoint(kind, range->address);
            return done ? "OK" : kMalformed;
        }
        constexpr std::string_view kWatchTypes[] = {"2", "3", "4"};
        auto type = std::find(std::begin(kWatchTypes), std::end(kWatchTypes), parts->first);
        if (type == std::end(kWatchTypes)) return "";
        auto kind = static_cast<WatchKind>(type - std::begin(kWatchTypes));
        bool done = insert ? target_.add_watchpoint(kind, range->address, range->length)
                           : target_.remove_watchpoint(kind, range->address, range->length);
        return done ? "OK" : kMalformed;
    }

    std::optional<std::string> insert_point(std::string_view arguments) { return change_point(arguments, true); }
    std::optional<std::string> remove_point(std::string_view arguments) { return change_point(arguments, false); }

    // Runs the program on from `address` (hex, empty for where it is). A
    // fault cannot be gone past: going on ends the program.
    std::optional<std::string> resume(bool step, std::string_view address) {
        if (!address.empty()) {
            auto eip = parse_number(address);
            constexpr uint32_t kEip = 8;
            uint8_t bytes[4];
            if (!eip) return kMalformed;
            for (size_t i = 0; i < sizeof bytes; i++) bytes[i] = static_cast<uint8_t>(*eip >> (8 * i));
            if (!target_.write_register(kEip, bytes)) return kMalformed;
        }
        if (last_.kind == DebugStop::Kind::Fault) {
            end_ = SessionEnd::ProgramEnded;
            return "X" + gdb_signal(last_.signal);
        }
        {
            std::optional<PeerWatch> watch;
            if (!step) watch.emplace(channel_.descriptor(), target_, connection_.input_waiting());
            last_ = target_.resume(step);
        }
        if (last_.kind == DebugStop::Kind::Exited || last_.kind == DebugStop::Kind::Ended)
            end_ = SessionEnd::ProgramEnded;
        return stop_reply();
    }

    // Going back is open after a fault too: it is how one finds its cause.
    std::optional<std::string> reverse(bool step) {
        if (!target_.reversible()) return "";
        last_ = target_.reverse(step);
        if (last_.kind == DebugStop::Kind::Ended) end_ = SessionEnd::ProgramEnded;
        return stop_reply();
    }
    std::optional<std::string> reverse_step(std::string_view) { return reverse(true); }
    std::optional<std::string> reverse_continue(std::string_view) { return reverse(false); }

    std::optional<std::string> resume_continue(std::string_view arguments) { return resume(false, arguments); }
    std::optional<std::string> resume_step(std::string_view arguments) { return resume(true, arguments); }

    // "SIGNAL[;ADDRESS]": no signal can be delivered to the program; it
    // just goes on.
    std::optional<std::string> resume_continue_signal(std::string_view arguments) {
        auto parts = split_once(arguments, ';');
        return resume(false, parts ? parts->second : "");
    }
    std::optional<std::string> resume_step_signal(std::string_view arguments) {
        auto parts = split_once(arguments, ';');
        return resume(true, parts ? parts->second : "");
    }

    // "ACTION[:THREAD][;ACTION[:THREAD]]...": with one thread the first
    // action applies.
    std::optional<std::string> resume_actions(std::string_view arguments) {
        std::string_view action = arguments.substr(0, arguments.find_first_of(";:"));
        if (action.empty()) return kMalformed;
        if (action[0] != 'c' && action[0] != 'C' && action[0] != 's' && action[0] != 'S') return "";
        return resume(action[0] == 's' || action[0] == 'S', "");
    }

    std::optional<std::string> detach(std::string_view) {
        end_ = SessionEnd::Detached;
        return "OK";
    }

    std::optional<std::string> kill(std::string_view) {
        end_ = SessionEnd::Killed;
        return std::nullopt;
    }

    std::optional<std::string> kill_with_reply(std::string_view) {
        end_ = SessionEnd::Killed;
        return "OK";
    }

    Channel &channel_;
    Connection connection_;
    DebugTarget &target_;
    DebugStop last_{DebugStop::Kind::Started};
    std::optional<SessionEnd> end_;
};

// The first command whose prefix starts the packet takes it; longer
// prefixes come before shorter ones they begin with. Anything else gets the
// empty reply: not supported.
const Session::Command Session::kCommands[] = {
    {"qSupported", &Session::supported, nullptr},
    {"qXfer:features:read:", &Session::features, nullptr},
    {"qXfer:siginfo:read:", &Session::siginfo, nullptr},
    {"qAttached", nullptr, "1"},
    {"qC", nullptr, "QC1"},
    {"qfThreadInfo", nullptr, "m1"},
    {"qsThreadInfo", nullptr, "l"},
    {"vCont?", nullptr, "vCont;c;C;s;S"},
    {"vCont;", &Session::resume_actions, nullptr},
    {"vKill", &Session::kill_with_reply, nullptr},
    {"?", &Session::status, nullptr},
    {"g", &Session::read_registers, nullptr},
    {"G", &Session::write_registers, nullptr},
    {"p", &Session::read_register, nullptr},
    {"P", &Session::write_register, nullptr},
    {"m", &Session::read_memory, nullptr},
    {"M", &Session::write_memory_hex, nullptr},
    {"X", &Session::write_memory_binary, nullptr},
    {"Z", &Session::insert_point, nullptr},
    {"z", &Session::remove_point, nullptr},
    {"bs", &Session::reverse_step, nullptr},
    {"bc", &Session::reverse_continue, nullptr},
    {"c", &Session::resume_continue, nullptr},
    {"C", &Session::resume_continue_signal, nullptr},
    {"s", &Session::resume_step, nullptr},
    {"S", &Session::resume_step_signal, nullptr},
    {"H", nullptr, "OK"},
    {"T", nullptr, "OK"},
    {"D", &Session::detach, nullptr},
    {"k", &Session::kill, nullptr},
};

std::optional<std::string> Session::answer(std::string_view packet) {
    for (const auto &command : kCommands) {
        if (!packet.starts_with(command.prefix)) continue;
        if (command.handler == nullptr) return command.fixed_reply;
        return (this->*command.handler)(packet.substr(command.prefix.size()));
    }
    return "";
}

}  // namespace

SessionEnd serve_gdb(Channel &channel, DebugTarget &target) { return Session(channel, target).serve(); }

SessionEnd serve_gdb(int socket, int cancel_fd, DebugTarget &target) {
    SocketChannel channel(socket, cancel_fd);
    return serve_gdb(channel, target);
}

std::optional<int> accept_gdb(uint16_t port, int cancel_fd, void (*announce)(uint16_t port), std::string &error) {
    std::string where = "127.0.0.1:" + std::to_string(port);
    auto failed = [&](const char *step) -> std::optional<int> {
        error = std::string("cannot ") + step + " gdb on " + where + ": " + std::strerror(errno);
        return std::nullopt;
    };
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) return failed("listen for");
    std::unique_ptr<int, void (*)(int *)> closer(&listener, [](int *fd) { ::close(*fd); });
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), size) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return failed("listen for");
    announce(ntohs(address.sin_port));

    pollfd watched[2] = {{listener, POLLIN, 0}, {cancel_fd, POLLIN, 0}};
    while (poll(watched, 2, -1) < 0)
        if (errno != EINTR) return failed("wait for");
    if (watched[1].revents != 0) {
        error.clear();
        return std::nullopt;
    }
    int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0) return failed("accept");
    // Every reply is a small packet waiting for an answer: no batching.
    setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return peer;
}

}  // namespace kiv
