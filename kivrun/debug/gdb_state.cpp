// The packets that read and change the program's state: registers,
// memory, break- and watchpoints.
#include <algorithm>
#include <iterator>

#include "debug/gdb_replies.h"
#include "debug/gdb_session.h"
#include "debug/registers.h"
#include "support/hex.h"
#include "support/text.h"

namespace kiv::gdb {

namespace {

// The point types of Z and z packets.
struct PointType {
    std::string_view code;
    bool breakpoint;  // else a watchpoint
    BreakKind break_kind;
    WatchKind watch_kind;
};

constexpr PointType kPointTypes[] = {
    {"0", true, BreakKind::Software, {}}, {"1", true, BreakKind::Hardware, {}}, {"2", false, {}, WatchKind::Write},
    {"3", false, {}, WatchKind::Read},    {"4", false, {}, WatchKind::Access},
};

uint32_t register_bytes(uint32_t number) { return kRegisters[number].bits / 8; }

}  // namespace

// Hex digits, or 'x' for each when the register cannot be read.
std::string Session::register_text(uint32_t number) {
    std::vector<uint8_t> value(register_bytes(number));
    return target_.read_register(number, value) ? hex_bytes(value) : std::string(value.size() * 2, 'x');
}

Session::Reply Session::read_registers(std::string_view) {
    std::string text;
    for (uint32_t number = 0; number < kRegisterCount; number++) text += register_text(number);
    return text;
}

// As many whole registers as the packet holds, in order.
Session::Reply Session::write_registers(std::string_view arguments) {
    auto bytes = decode_hex_bytes(arguments);
    if (!bytes) return kMalformed;
    std::span<const uint8_t> rest(*bytes);
    for (uint32_t number = 0; number < kRegisterCount && rest.size() >= register_bytes(number); number++) {
        if (!target_.write_register(number, rest.first(register_bytes(number)))) return kMalformed;
        rest = rest.subspan(register_bytes(number));
    }
    return "OK";
}

Session::Reply Session::read_register(std::string_view arguments) {
    auto number = parse_number(arguments);
    if (!number || *number >= kRegisterCount) return kMalformed;
    return register_text(*number);
}

Session::Reply Session::write_register(std::string_view arguments) {
    auto parts = split_once(arguments, '=');
    auto number = parts ? parse_number(parts->first) : std::nullopt;
    auto value = parts ? decode_hex_bytes(parts->second) : std::nullopt;
    if (!number || !value || *number >= kRegisterCount || value->size() != register_bytes(*number)) return kMalformed;
    return target_.write_register(*number, *value) ? "OK" : kMalformed;
}

Session::Reply Session::read_memory(std::string_view arguments) {
    auto range = parse_range(arguments);
    if (!range) return kMalformed;
    std::vector<uint8_t> bytes(std::min<size_t>(range->length, kMaxMemoryReply));
    if (!target_.read_memory(range->address, bytes)) return kBadAddress;
    return hex_bytes(bytes);
}

Session::Reply Session::write_memory(std::string_view header, std::optional<std::vector<uint8_t>> data) {
    auto range = parse_range(header);
    if (!range || !data || data->size() != range->length) return kMalformed;
    return target_.write_memory(range->address, *data) ? "OK" : kBadAddress;
}

Session::Reply Session::write_memory_hex(std::string_view arguments) {
    auto parts = split_once(arguments, ':');
    if (!parts) return kMalformed;
    return write_memory(parts->first, decode_hex_bytes(parts->second));
}

Session::Reply Session::write_memory_binary(std::string_view arguments) {
    auto parts = split_once(arguments, ':');
    if (!parts) return kMalformed;
    return write_memory(parts->first, std::vector<uint8_t>(parts->second.begin(), parts->second.end()));
}

// "TYPE,ADDRESS,KIND" (a watchpoint's KIND is its length); a type not in
// the table is not supported.
Session::Reply Session::change_point(std::string_view arguments, bool insert) {
    auto parts = split_once(arguments, ',');
    auto range = parts ? parse_range(parts->second) : std::nullopt;
    if (!parts || !range) return kMalformed;
    auto type = std::find_if(std::begin(kPointTypes), std::end(kPointTypes),
                             [&](const PointType &t) { return t.code == parts->first; });
    if (type == std::end(kPointTypes)) return "";
    bool done;
    if (type->breakpoint)
        done = insert ? target_.add_breakpoint(type->break_kind, range->address)
                      : target_.remove_breakpoint(type->break_kind, range->address);
    else
        done = insert ? target_.add_watchpoint(type->watch_kind, range->address, range->length)
                      : target_.remove_watchpoint(type->watch_kind, range->address, range->length);
    return done ? "OK" : kMalformed;
}

Session::Reply Session::insert_point(std::string_view arguments) { return change_point(arguments, true); }
Session::Reply Session::remove_point(std::string_view arguments) { return change_point(arguments, false); }

}  // namespace kiv::gdb
