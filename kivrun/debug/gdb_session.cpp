#include "debug/gdb_session.h"

#include <csignal>
#include <cstdio>
#include <iterator>

#include "debug/gdb_replies.h"
#include "debug/gdb_socket.h"
#include "support/text.h"

namespace kiv::gdb {

namespace {

// What this stub offers besides its packet size, one feature a row.
constexpr std::string_view kFeatures[] = {
    "qXfer:features:read+", "qXfer:siginfo:read+", "swbreak+", "hwbreak+", "vContSupported+",
};
// Only a target that can go back offers it.
constexpr std::string_view kReverseFeatures[] = {"ReverseStep+", "ReverseContinue+"};

// The actions of vCont that this stub takes: continue and step, with or
// without a signal (which the program cannot be given).
constexpr std::string_view kResumeActions = "cCsS";
constexpr std::string_view kStepActions = "sS";

// Whether every row of a packet table can take a packet: none may follow a
// row whose prefix begins its own, which would take all its packets.
template <typename Row, size_t Rows> constexpr bool every_row_reachable(const Row (&rows)[Rows]) {
    for (size_t later = 0; later < Rows; later++)
        for (size_t earlier = 0; earlier < later; earlier++)
            if (rows[later].prefix.starts_with(rows[earlier].prefix)) return false;
    return true;
}

}  // namespace

// The first packet whose prefix starts the payload takes it. Anything else
// gets the empty reply: not supported.
constexpr Session::Packet Session::kPackets[] = {
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

Session::Reply Session::answer(std::string_view packet) {
    static_assert(every_row_reachable(kPackets), "a longer prefix must come before a shorter one it begins with");
    for (const auto &command : kPackets) {
        if (!packet.starts_with(command.prefix)) continue;
        if (command.handler == nullptr) return command.fixed_reply;
        return (this->*command.handler)(packet.substr(command.prefix.size()));
    }
    return "";
}

// A peer that keeps sending cannot hold off the end either: the channel is
// asked before every packet.
SessionEnd Session::serve() {
    while (!end_) {
        if (channel_.given_up()) return give_up();
        auto packet = connection_.receive();
        if (!packet) return channel_.given_up() ? give_up() : SessionEnd::Disconnected;
        if (auto reply = answer(*packet)) connection_.send(*reply);
    }
    return *end_;
}

// gdb hears what it hears of a killed inferior.
SessionEnd Session::give_up() {
    connection_.send("X" + signal_text(SIGKILL));
    return SessionEnd::GivenUp;
}

Session::Reply Session::supported(std::string_view) {
    char size[32];
    snprintf(size, sizeof size, "PacketSize=%zx", kMaxPacket);
    std::string reply = size;
    for (std::string_view feature : kFeatures) (reply += ';') += feature;
    if (target_.reversible())
        for (std::string_view feature : kReverseFeatures) (reply += ';') += feature;
    return reply;
}

// "target.xml:OFFSET,LENGTH".
Session::Reply Session::features(std::string_view arguments) {
    auto parts = split_once(arguments, ':');
    if (!parts || parts->first != "target.xml") return kUnknownAnnex;
    return object_piece(target_description(), parts->second);
}

// ":OFFSET,LENGTH" of the last fault's siginfo ($_siginfo); there is none
// at other stops.
Session::Reply Session::siginfo(std::string_view arguments) {
    auto parts = split_once(arguments, ':');
    if (!parts || !parts->first.empty()) return kUnknownAnnex;
    if (last_.kind != DebugStop::Kind::Fault) return kBadAddress;
    return object_piece(linux_siginfo(last_), parts->second);
}

Session::Reply Session::status(std::string_view) { return stop_reply(last_); }

Session::Reply Session::detach(std::string_view) {
    end_ = SessionEnd::Detached;
    return "OK";
}

Session::Reply Session::kill(std::string_view) {
    end_ = SessionEnd::Killed;
    return std::nullopt;
}

Session::Reply Session::kill_with_reply(std::string_view) {
    end_ = SessionEnd::Killed;
    return "OK";
}

// Runs the program on from `address` (hex, empty for where it is). A fault
// cannot be gone past: going on ends the program.
Session::Reply Session::resume(bool step, std::string_view address) {
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
        return "X" + signal_text(last_.signal);
    }
    return run(step);
}

std::string Session::run(bool step) {
    {
        std::optional<PeerWatch> watch;
        if (!step) watch.emplace(channel_.descriptor(), target_, connection_.input_waiting());
        last_ = target_.resume(step);
    }
    if (last_.kind == DebugStop::Kind::Exited || last_.kind == DebugStop::Kind::Ended) end_ = SessionEnd::ProgramEnded;
    return stop_reply(last_);
}

// Going back is open after a fault too: it is how one finds its cause.
Session::Reply Session::reverse(bool step) {
    if (!target_.reversible()) return "";
    last_ = target_.reverse(step);
    if (last_.kind == DebugStop::Kind::Ended) end_ = SessionEnd::ProgramEnded;
    return stop_reply(last_);
}

Session::Reply Session::reverse_step(std::string_view) { return reverse(true); }
Session::Reply Session::reverse_continue(std::string_view) { return reverse(false); }

Session::Reply Session::resume_continue(std::string_view arguments) { return resume(false, arguments); }
Session::Reply Session::resume_step(std::string_view arguments) { return resume(true, arguments); }

// "SIGNAL[;ADDRESS]": no signal can be delivered to the program; it just
// goes on.
Session::Reply Session::resume_continue_signal(std::string_view arguments) {
    auto parts = split_once(arguments, ';');
    return resume(false, parts ? parts->second : "");
}

Session::Reply Session::resume_step_signal(std::string_view arguments) {
    auto parts = split_once(arguments, ';');
    return resume(true, parts ? parts->second : "");
}

// "ACTION[:THREAD][;ACTION[:THREAD]]...": with one thread the first action
// applies.
Session::Reply Session::resume_actions(std::string_view arguments) {
    std::string_view action = arguments.substr(0, arguments.find_first_of(";:"));
    if (action.empty()) return kMalformed;
    if (kResumeActions.find(action[0]) == std::string_view::npos) return "";
    return resume(kStepActions.find(action[0]) != std::string_view::npos, "");
}

}  // namespace kiv::gdb

namespace kiv {

SessionEnd serve_gdb(gdb::Channel &channel, DebugTarget &target) { return gdb::Session(channel, target).serve(); }

}  // namespace kiv
