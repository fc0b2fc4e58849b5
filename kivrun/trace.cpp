#include "trace.h"

#include <fmt/format.h>

#include <cstring>
#include <vector>

#include "kiv_open.h"
#include "kiv_spawn.h"
#include "text.h"

namespace kiv {

namespace {

constexpr size_t kShownBytes = 32;
constexpr size_t kShownArguments = 8;
constexpr uint32_t kMaxShownText = 4096;

std::string pointer(uint32_t address) { return address == 0 ? "NULL" : fmt::format("{:#x}", address); }

std::string guest_text(const GuestMemory &memory, uint32_t address) {
    auto text = memory.read_text(address, kMaxShownText);
    if (!text) return pointer(address);
    return c_quoted(reinterpret_cast<const uint8_t *>(text->data()), text->size(), kShownBytes);
}

std::string guest_bytes(const GuestMemory &memory, uint32_t address, uint32_t length) {
    size_t shown = std::min<size_t>(length, kShownBytes + 1);
    std::vector<uint8_t> bytes(shown);
    if (!memory.read(address, bytes.data(), static_cast<uint32_t>(shown))) return pointer(address);
    return c_quoted(bytes.data(), length, kShownBytes);
}

struct FlagName {
    uint32_t bit;
    const char *name;
};
constexpr FlagName kOpenFlagNames[] = {
    {KIV_O_CREAT, "O_CREAT"}, {KIV_O_EXCL, "O_EXCL"}, {KIV_O_TRUNC, "O_TRUNC"}, {KIV_O_APPEND, "O_APPEND"}};
constexpr const char *kAccessModeNames[] = {"O_RDONLY", "O_WRONLY", "O_RDWR", "O_ACCMODE"};
static_assert(std::size(kAccessModeNames) == KIV_O_ACCMODE + 1);

std::string open_flags(uint32_t flags) {
    std::string text = kAccessModeNames[flags & KIV_O_ACCMODE];
    uint32_t rest = flags & ~uint32_t{KIV_O_ACCMODE};
    for (const auto &flag : kOpenFlagNames) {
        if (rest & flag.bit) {
            text += "|";
            text += flag.name;
            rest &= ~flag.bit;
        }
    }
    if (rest != 0) text += fmt::format("|{:#x}", rest);
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
    return fmt::format("{{pci={:02x}:{:02x}.{:x}, mmio=0x{:08x}, "
                       "mac={:02x}:{:02x}:{:02x}:{:02x}:{:02x}:{:02x}, link={}}}",
                       info.bus, info.device, info.function, info.mmio_base, info.mac[0], info.mac[1], info.mac[2],
                       info.mac[3], info.mac[4], info.mac[5], info.link);
}

std::string spawn_block(const GuestMemory &memory, uint32_t address) {
    KivSpawnBlock block;
    if (!memory.read(address, &block, sizeof block)) return pointer(address);
    return fmt::format("{{path={}, argv={}, argc={}, {}, {}, {}, flag={}}}", guest_text(memory, block.path),
                       argv_list(memory, block.argv, block.argc), block.argc, block.a4, block.a5, block.a6,
                       block.flag);
}

std::string fd_pair(const GuestMemory &memory, uint32_t address) {
    int32_t fds[2];
    if (!memory.read(address, fds, sizeof fds)) return pointer(address);
    return fmt::format("[{}, {}]", fds[0], fds[1]);
}

// `filled`: the call returned without failing, so its output arguments hold
// what the kernel stored.
std::string argument(ArgKind kind, const SyscallArgs &args, size_t index, int32_t result, bool filled,
                     const GuestMemory &memory) {
    uint32_t value = args[index];
    uint32_t next = index + 1 < args.size() ? args[index + 1] : 0;
    switch (kind) {
    case ArgKind::FD:
    case ArgKind::INT: return fmt::format("{}", static_cast<int32_t>(value));
    case ArgKind::UINT:
    case ArgKind::COUNT: return fmt::format("{}", value);
    case ArgKind::HEX: return fmt::format("{:#x}", value);
    case ArgKind::PTR: return pointer(value);
    case ArgKind::PATH: return guest_text(memory, value);
    case ArgKind::BUF_IN: return guest_bytes(memory, value, next);
    case ArgKind::BUF_OUT: return filled && result > 0 ? guest_bytes(memory, value, result) : pointer(value);
    case ArgKind::BUF_OUT_STR: return filled ? guest_text(memory, value) : pointer(value);
    case ArgKind::OPEN_FLAGS: return open_flags(value);
    case ArgKind::NIC_INFO: return filled ? nic_info(memory, value) : pointer(value);
    case ArgKind::FD_PAIR: return filled ? fd_pair(memory, value) : pointer(value);
    case ArgKind::ARGV: return argv_list(memory, value, static_cast<int32_t>(next));
    case ArgKind::SPAWN_BLOCK: return spawn_block(memory, value);
    }
    return pointer(value);
}

std::string arguments(const SyscallEntry &entry, const SyscallArgs &args, const SyscallResult &result,
                      const GuestMemory &memory) {
    bool filled = !result.ends_process && result.value >= 0;
    std::string text;
    for (size_t i = 0; i < entry.arg_count; i++) {
        if (i > 0) text += ", ";
        text += argument(entry.kinds[i], args, i, result.value, filled, memory);
    }
    return text;
}

std::string error_text(int error) {
    const char *name = strerrorname_np(error);
    return fmt::format(" {} ({})", name != nullptr ? name : "E?", std::strerror(error));
}

std::string result_text(ResultKind kind, const SyscallResult &result) {
    if (result.ends_process) return "?";
    bool failed = result.value == -1;
    std::string text = kind == ResultKind::ADDRESS && !failed
                           ? fmt::format("{:#x}", static_cast<uint32_t>(result.value))
                           : fmt::format("{}", result.value);
    if (result.value < 0 && result.error != 0) text += error_text(result.error);
    return text;
}

}  // namespace

void Trace::call(const SyscallEntry &entry, const SyscallArgs &args, const SyscallResult &result,
                 const GuestMemory &memory) {
    line(fmt::format("{}({}) = {}", entry.name, arguments(entry, args, result, memory),
                     result_text(entry.result, result)));
}

void Trace::unknown_call(const SyscallRegisters &registers) {
    line(fmt::format("syscall_{}({:#x}, {:#x}, {:#x}) = -1 (unknown system call)", registers.number,
                     registers.args[0], registers.args[1], registers.args[2]));
}

void Trace::ended(int exit_code) {
    if (!tag_.empty()) line("+++ exited with " + std::to_string(exit_code) + " +++");
}

void Trace::line(const std::string &text) {
    fmt::print(out_, "{}{}\n", tag_, text);
    fflush(out_);
}

}  // namespace kiv
