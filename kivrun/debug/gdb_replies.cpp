#include "debug/gdb_replies.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iterator>

#include "debug/registers.h"
#include "support/hex.h"
#include "support/text.h"

namespace kiv::gdb {

namespace {

constexpr char kThreadField[] = "thread:1;";

struct FlagBit {
    const char *name;
    uint32_t bit;
};

constexpr FlagBit kEflags[] = {
    {"CF", 0},  {"", 1},    {"PF", 2},  {"AF", 4},  {"ZF", 6},  {"SF", 7},   {"TF", 8},   {"IF", 9},  {"DF", 10},
    {"OF", 11}, {"NT", 14}, {"RF", 16}, {"VM", 17}, {"AC", 18}, {"VIF", 19}, {"VIP", 20}, {"ID", 21},
};

// i386 Linux's siginfo_t for a fault: si_signo, si_errno, si_code, then
// si_addr, in 128 bytes.
constexpr size_t kSiginfoSize = 128;
constexpr size_t kSiginfoCode = 8, kSiginfoAddress = 12;

// Linux signal numbers to the numbers of gdb's remote protocol.
constexpr uint8_t kGdbKill = 9;

struct SignalName {
    int linux_signal;
    uint8_t gdb_signal;
};

constexpr SignalName kSignals[] = {
    {SIGINT, 2}, {SIGILL, 4}, {SIGTRAP, 5}, {SIGFPE, 8}, {SIGKILL, kGdbKill}, {SIGBUS, 10}, {SIGSEGV, 11},
};

// gdb's names of the watchpoint kinds in a stop reply, in WatchKind order.
constexpr const char *kWatchNames[] = {"watch", "rwatch", "awatch"};
static_assert(std::size(kWatchNames) == static_cast<size_t>(WatchKind::Access) + 1);

std::string build_target_description() {
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

}  // namespace

std::optional<uint32_t> parse_number(std::string_view text) {
    auto value = parse_hex(text, UINT32_MAX);
    if (!value) return std::nullopt;
    return static_cast<uint32_t>(*value);
}

std::optional<Range> parse_range(std::string_view text) {
    auto parts = split_once(text, ',');
    if (!parts) return std::nullopt;
    auto address = parse_number(parts->first), length = parse_number(parts->second);
    if (!address || !length) return std::nullopt;
    return Range{*address, *length};
}

std::string signal_text(int linux_signal) {
    for (const auto &entry : kSignals)
        if (entry.linux_signal == linux_signal) return hex_byte(entry.gdb_signal);
    return hex_byte(kGdbKill);
}

std::string stop_reply(const DebugStop &stop) {
    using Kind = DebugStop::Kind;
    std::string trap = signal_text(SIGTRAP) + kThreadField;
    switch (stop.kind) {
    case Kind::Started:
    case Kind::Step: return "T" + trap;
    case Kind::Breakpoint: return "T" + trap + (stop.breakpoint == BreakKind::Software ? "swbreak:;" : "hwbreak:;");
    case Kind::Watchpoint: {
        char address[16];
        snprintf(address, sizeof address, ":%x;", stop.data_address);
        return "T" + trap + kWatchNames[static_cast<int>(stop.watch)] + address;
    }
    case Kind::Interrupted: return "T" + signal_text(SIGINT) + kThreadField;
    case Kind::Fault: return "T" + signal_text(stop.signal) + kThreadField;
    case Kind::Exited: return "W" + hex_byte(static_cast<uint8_t>(stop.status));
    case Kind::Ended: return "X" + signal_text(stop.signal);
    case Kind::HistoryStart: return "T" + trap + "replaylog:begin;";
    }
    return "X" + signal_text(SIGKILL);
}

std::string object_piece(const std::string &object, std::string_view range_text) {
    auto range = parse_range(range_text);
    if (!range) return kMalformed;
    if (range->address >= object.size()) return "l";
    std::string piece = object.substr(range->address, std::min<size_t>(range->length, kMaxMemoryReply));
    bool last = range->address + piece.size() >= object.size();
    return (last ? "l" : "m") + piece;
}

const std::string &target_description() {
    static const std::string kDescription = build_target_description();
    return kDescription;
}

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

}  // namespace kiv::gdb
