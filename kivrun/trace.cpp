#include "trace.h"

#include <cstring>
#include <vector>

namespace kiv {

namespace {

constexpr size_t kShownBytes = 32;
constexpr size_t kShownArguments = 8;
constexpr uint32_t kMaxShownText = 4096;

std::string format(const char *pattern, auto... values) {
    char text[64];
    snprintf(text, sizeof text, pattern, values...);
    return text;
}

std::string pointer(uint32_t address) { return address == 0 ? "NULL" : format("0x%x", address); }

std::string guest_text(const GuestMemory &memory, uint32_t address) {
    auto text = memory.read_text(address, kMaxShownText);
    if (!text) return pointer(address);
    return quote_bytes(reinterpret_cast<const uint8_t *>(text->data()), text->size(), kShownBytes);
}

std::string guest_bytes(const GuestMemory &memory, uint32_t address, uint32_t length) {
    size_t shown = std::min<size_t>(length, kShownBytes + 1);
    std::vector<uint8_t> bytes(shown);
    if (!memory.read(address, bytes.data(), static_cast<uint32_t>(shown))) return pointer(address);
    return quote_bytes(bytes.data(), length, kShownBytes);
}

struct FlagName {
    uint32_t bit;
    const char *name;
};
constexpr FlagName kOpenFlagNames[] = {
    {KIV_O_CREAT, "O_CREAT"}, {KIV_O_EXCL, "O_EXCL"}, {KIV_O_TRUNC, "O_TRUNC"}, {KIV_O_APPEND, "O_APPEND"}};
constexpr const char *kAccessModeNames[] = {"O_RDONLY", "O_WRONLY", "O_RDWR", "O_ACCMODE"};

std::string open_flags(uint32_t flags) {
    std::string text = kAccessModeNames[flags & 3];
    uint32_t rest = flags & ~3u;
    for (const auto &flag : kOpenFlagNames) {
        if (rest & flag.bit) {
            text += "|";
            text += flag.name;
            rest &= ~flag.bit;
        }
    }
    if (rest != 0) text += format("|0x%x", rest);
    return text;
}

std::string argv_list(const GuestMemory &memory, uint32_t address, int32_t count) {
    if (address == 0 || count < 0) return pointer(address);
    std::string text = "[";
    for (int32_t i = 0; i < count; i++) {
        if (i == static_cast<int32_t>(kShownArguments)) {
            text += ", ...";
            break;
        }
        uint32_t element;
        if (!memory.read(address + 4 * i, &element, sizeof element)) return pointer(address);
        text += (i > 0 ? ", " : "") + guest_text(memory, element);
    }
    return text + "]";
}

std::string nic_info(const GuestMemory &memory, uint32_t address) {
    NicInfo info;
    if (!memory.read(address, &info, sizeof info)) return pointer(address);
    return format("{pci=%02x:%02x.%x, mmio=0x%08x, ", info.bus, info.device, info.function, info.mmio_base) +
           format("mac=%02x:%02x:%02x:", info.mac[0], info.mac[1], info.mac[2]) +
           format("%02x:%02x:%02x, ", info.mac[3], info.mac[4], info.mac[5]) + format("link=%u}", info.link);
}

std::string spawn_block(const GuestMemory &memory, uint32_t address) {
    uint32_t block[7];
    if (!memory.read(address, block, sizeof block)) return pointer(address);
    return "{path=" + guest_text(memory, block[0]) +
           ", argv=" + argv_list(memory, block[1], static_cast<int32_t>(block[2])) +
           format(", argc=%d, %d, %d, %d, ", block[2], block[3], block[4], block[5]) + format("flag=%u}", block[6]);
}

std::string argument(ArgKind kind, const SyscallArgs &args, size_t index, int32_t result, bool returned,
                     const GuestMemory &memory) {
    uint32_t value = args[index];
    uint32_t next = index + 1 < args.size() ? args[index + 1] : 0;
    bool filled = returned && result >= 0;
    switch (kind) {
    case ArgKind::FD:
    case ArgKind::INT: return std::to_string(static_cast<int32_t>(value));
    case ArgKind::UINT:
    case ArgKind::COUNT: return std::to_string(value);
    case ArgKind::HEX: return format("0x%x", value);
    case ArgKind::PTR: return pointer(value);
    case ArgKind::PATH: return guest_text(memory, value);
    case ArgKind::BUF_IN: return guest_bytes(memory, value, next);
    case ArgKind::BUF_OUT: return filled && result > 0 ? guest_bytes(memory, value, result) : pointer(value);
    case ArgKind::BUF_OUT_STR: return filled ? guest_text(memory, value) : pointer(value);
    case ArgKind::OPEN_FLAGS: return open_flags(value);
    case ArgKind::NIC_INFO: return filled ? nic_info(memory, value) : pointer(value);
    case ArgKind::FD_PAIR: {
        int32_t fds[2];
        if (!filled || !memory.read(value, fds, sizeof fds)) return pointer(value);
        return format("[%d, %d]", fds[0], fds[1]);
    }
    case ArgKind::ARGV: return argv_list(memory, value, static_cast<int32_t>(next));
    case ArgKind::SPAWN_BLOCK: return spawn_block(memory, value);
    }
    return pointer(value);
}

SyscallArgs args_of(const SyscallRegisters &registers) {
    SyscallArgs args;
    std::copy(std::begin(registers.args), std::end(registers.args), args.begin());
    return args;
}

}  // namespace

std::string quote_bytes(const uint8_t *bytes, size_t length, size_t limit) {
    std::string text = "\"";
    for (size_t i = 0; i < std::min(length, limit); i++) {
        uint8_t c = bytes[i];
        switch (c) {
        case '\n': text += "\\n"; break;
        case '\t': text += "\\t"; break;
        case '\r': text += "\\r"; break;
        case '"': text += "\\\""; break;
        case '\\': text += "\\\\"; break;
        default: text += (c >= 0x20 && c < 0x7f) ? std::string(1, static_cast<char>(c)) : format("\\x%02x", c);
        }
    }
    text += "\"";
    if (length > limit) text += "...";
    return text;
}

std::string Trace::arguments(const SyscallEntry &entry, const SyscallArgs &args, int32_t result, bool returned,
                             const GuestMemory &memory) {
    std::string text;
    for (size_t i = 0; i < entry.arg_count; i++) {
        if (i > 0) text += ", ";
        text += argument(entry.kinds[i], args, i, result, returned, memory);
    }
    return text;
}

void Trace::call(const SyscallEntry *entry, const SyscallRegisters &registers, int32_t result, int error,
                 const GuestMemory &memory) {
    auto args = args_of(registers);
    std::string text;
    if (entry == nullptr) {
        text = format("syscall_%u(0x%x, 0x%x, ", registers.number, args[0], args[1]) +
               format("0x%x) = -1 (unknown system call)", args[2]);
    } else {
        text = std::string(entry->name) + "(" + arguments(*entry, args, result, true, memory) + ") = " +
               std::to_string(result);
        if (result < 0 && error != 0) {
            const char *name = strerrorname_np(error);
            text += std::string(" ") + (name != nullptr ? name : "E?") + " (" + std::strerror(error) + ")";
        }
    }
    line(text);
}

void Trace::call_without_return(const SyscallEntry &entry, const SyscallRegisters &registers,
                                const GuestMemory &memory) {
    line(std::string(entry.name) + "(" + arguments(entry, args_of(registers), 0, false, memory) + ") = ?");
}

void Trace::line(const std::string &text) {
    std::string out = text + "\n";
    fwrite(out.data(), 1, out.size(), out_);
    fflush(out_);
}

}  // namespace kiv
