// One gdb session: each packet is answered through the table of packets
// (gdb_session.cpp) by its handler, which drives the program through its
// DebugTarget. The handlers of the program's state (registers, memory,
// break- and watchpoints) are in gdb_state.cpp. A new packet is a row of
// the table and a handler here, and a row of kFeatures when gdb must be
// told of it in qSupported.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debug/gdb_packet.h"
#include "debug/gdb_stub.h"

namespace kiv::gdb {

class Session {
public:
    Session(Channel &channel, DebugTarget &target) : channel_(channel), connection_(channel), target_(target) {}

    // Until the session ends: the program ended, gdb killed it or detached,
    // the peer vanished or the channel gave up.
    SessionEnd serve();

private:
    // What to send back; nullopt for a packet gdb expects no reply to.
    using Reply = std::optional<std::string>;
    using Handler = Reply (Session::*)(std::string_view arguments);

    // A packet by the start of its payload, answered by its handler (given
    // the rest of the payload) or with a fixed reply.
    struct Packet {
        std::string_view prefix;
        Handler handler;
        const char *fixed_reply;  // instead of a handler
    };
    static const Packet kPackets[];

    Reply answer(std::string_view packet);
    SessionEnd give_up();

    // Queries and the session's end.
    Reply supported(std::string_view);
    Reply features(std::string_view arguments);
    Reply siginfo(std::string_view arguments);
    Reply status(std::string_view);
    Reply detach(std::string_view);
    Reply kill(std::string_view);
    Reply kill_with_reply(std::string_view);

    // Running the program.
    Reply resume(bool step, std::string_view address);
    Reply resume_continue(std::string_view arguments);
    Reply resume_step(std::string_view arguments);
    Reply resume_continue_signal(std::string_view arguments);
    Reply resume_step_signal(std::string_view arguments);
    Reply resume_actions(std::string_view arguments);
    // Runs the target (one instruction when `step`) and answers its stop.
    std::string run(bool step);
    // Runs it backwards, when it can.
    Reply reverse(bool step);
    Reply reverse_step(std::string_view);
    Reply reverse_continue(std::string_view);

    // The program's state (gdb_state.cpp).
    std::string register_text(uint32_t number);
    Reply read_registers(std::string_view);
    Reply write_registers(std::string_view arguments);
    Reply read_register(std::string_view arguments);
    Reply write_register(std::string_view arguments);
    Reply read_memory(std::string_view arguments);
    Reply write_memory(std::string_view header, std::optional<std::vector<uint8_t>> data);
    Reply write_memory_hex(std::string_view arguments);
    Reply write_memory_binary(std::string_view arguments);
    Reply change_point(std::string_view arguments, bool insert);
    Reply insert_point(std::string_view arguments);
    Reply remove_point(std::string_view arguments);

    Channel &channel_;
    Connection connection_;
    DebugTarget &target_;
    DebugStop last_{DebugStop::Kind::Started};
    std::optional<SessionEnd> end_;
};

}  // namespace kiv::gdb
