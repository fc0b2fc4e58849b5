// The parts of gdb's packets that need no session: hex numbers and ranges
// in arguments, signal numbers, the stop reply, and the objects gdb reads
// in pieces (the target description, a fault's siginfo).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "debug/gdb_packet.h"
#include "debug/gdb_stub.h"

namespace kiv::gdb {

// A memory read answers at most this many bytes (two hex digits each).
inline constexpr size_t kMaxMemoryReply = kMaxPacket / 2 - 16;
// Error replies besides kMalformed: an address outside the program's
// memory, an unknown qXfer object.
inline constexpr const char *kBadAddress = "E14";
inline constexpr const char *kUnknownAnnex = "E00";

// A hex number that fits 32 bits.
std::optional<uint32_t> parse_number(std::string_view text);

struct Range {
    uint32_t address;
    uint32_t length;
};

// "ADDRESS,LENGTH", both hex.
std::optional<Range> parse_range(std::string_view text);

// A Linux signal as the two hex digits of gdb's number for it (gdb's
// SIGKILL for one it has no number for).
std::string signal_text(int linux_signal);

// The reply that tells gdb why the program stopped.
std::string stop_reply(const DebugStop &stop);

// The piece of `object` that "OFFSET,LENGTH" asks for: 'm' and a piece, or
// 'l' and the last one (Connection::send escapes what binary data needs).
std::string object_piece(const std::string &object, std::string_view range_text);

// The i386 registers and eflags' bits, as gdb reads them (target.xml).
const std::string &target_description();

// The siginfo_t i386 Linux would give a handler for the fault.
std::string linux_siginfo(const DebugStop &fault);

}  // namespace kiv::gdb
