#include "dispatch/trace_decode.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "kiv_mmap.h"
#include "kiv_spawn.h"
#include "os/open_flags.h"
#include "support/text.h"

namespace kiv {

namespace {

constexpr size_t kShownArguments = 8;
constexpr uint32_t kMaxShownText = 4096;
// Nested texts (argument vectors, the spawn block) are shown this short.
constexpr size_t kNestedTextLimit = 32;

Shown number(int64_t value) { return {Shown::Kind::Number, value}; }
Shown symbolic(std::string text) { return {Shown::Kind::Symbolic, 0, std::move(text)}; }

std::string pointer_text(uint32_t address) { return address == 0 ? "NULL" : fmt::format("{:#x}", address); }
Shown pointer(uint32_t address) { return symbolic(pointer_text(address)); }

std::optional<std::string> guest_text(const GuestMemory &memory, uint32_t address, size_t limit) {
    auto text = memory.read_text(address, kMaxShownText);
    if (!text) return std::nullopt;
    return quoted(*text, text->size(), limit);
}

Shown text_argument(const GuestMemory &memory, uint32_t address, size_t limit) {
    auto text = memory.read_text(address, kMaxShownText);
    if (!text) return pointer(address);
    size_t length = text->size();
    text->resize(std::min(length, limit));
    return {Shown::Kind::Bytes, 0, std::move(*text), length};
}

Shown bytes_argument(const GuestMemory &memory, uint32_t address, uint32_t length, size_t limit) {
    std::string bytes(std::min<size_t>(length, limit), '\0');
    if (!memory.read(address, bytes.data(), static_cast<uint32_t>(bytes.size()))) return pointer(address);
    return {Shown::Kind::Bytes, 0, std::move(bytes), length};
}

// Only the trace names them: the mmap handler knows no other flags.
constexpr FlagRow kMapFlags[] = {
    {KIV_MAP_SHARED, 0, "MAP_SHARED"}, {KIV_MAP_PRIVATE, 0, "MAP_PRIVATE"}, {KIV_MAP_ANONYMOUS, 0, "MAP_ANONYMOUS"}};

// The names of the set bits joined by '|', unknown bits in hex at the end;
// `none` when no bit is set.
template <size_t N> std::string flag_names(uint32_t flags, const FlagRow (&names)[N], const char *none) {
    std::string text;
    for (const auto &flag : names) {
        if ((flags & flag.kivos) == 0) continue;
        text += (text.empty() ? "" : "|") + std::string(flag.name);
        flags &= ~flag.kivos;
    }
    if (flags != 0) text += (text.empty() ? "" : "|") + fmt::format("{:#x}", flags);
    return text.empty() ? none : text;
}

std::string open_flags(uint32_t flags) {
    uint32_t mode = flags & KIV_O_ACCMODE;
    std::string rest = flag_names(flags & ~uint32_t{KIV_O_ACCMODE}, kOpenFlags, "");
    return (mode < std::size(kAccessModes) ? kAccessModes[mode].name : "O_ACCMODE") + (rest.empty() ? "" : "|" + rest);
}

std::string whence(uint32_t value) {
    return value < std::size(kWhence) ? kWhence[value].name : fmt::format("{}", static_cast<int32_t>(value));
}

std::string argv_list(const GuestMemory &memory, uint32_t address, int32_t count) {
    if (address == 0 || count < 0) return pointer_text(address);
    std::string text = "[";
    for (int32_t i = 0; i < count; i++) {
        if (i == static_cast<int32_t>(kShownArguments)) {
            text += ", ...";
            break;
        }
        uint32_t element;
        if (!memory.read(address + 4 * static_cast<uint32_t>(i), &element, sizeof element))
            return pointer_text(address);
        text += (i > 0 ? ", " : "") + guest_text(memory, element, kNestedTextLimit).value_or(pointer_text(element));
    }
    return text + "]";
}

std::string nic_info(const GuestMemory &memory, uint32_t address) {
    NicInfo info;
    if (!memory.read(address, &info, sizeof info)) return pointer_text(address);
    return fmt::format(
        "{{pci={:02x}:{:02x}.{:x}, mmio=0x{:08x}, "
        "mac={:02x}:{:02x}:{:02x}:{:02x}:{:02x}:{:02x}, link={}}}",
        info.bus, info.device, info.function, info.mmio_base, info.mac[0], info.mac[1], info.mac[2], info.mac[3],
        info.mac[4], info.mac[5], info.link);
}

std::string spawn_block(const GuestMemory &memory, uint32_t address) {
    KivSpawnBlock block;
    if (!memory.read(address, &block, sizeof block)) return pointer_text(address);
    return fmt::format("{{path={}, argv={}, argc={}, {}, {}, {}, flag={}}}",
                       guest_text(memory, block.path, kNestedTextLimit).value_or(pointer_text(block.path)),
                       argv_list(memory, block.argv, block.argc), block.argc, block.child_stdin, block.child_stdout,
                       block.child_stderr, block.inherit_all);
}

std::string fd_pair(const GuestMemory &memory, uint32_t address) {
    int32_t fds[2];
    if (!memory.read(address, fds, sizeof fds)) return pointer_text(address);
    return fmt::format("[{}, {}]", fds[0], fds[1]);
}

// As strace shows a wait status: [{WIFEXITED(s) && WEXITSTATUS(s) == 7}],
// or the signal for a status above 128.
std::string wait_status(const GuestMemory &memory, uint32_t address) {
    int32_t status;
    if (!memory.read(address, &status, sizeof status)) return pointer_text(address);
    const char *signal = status > kSignalStatusBase ? sigabbrev_np(status - kSignalStatusBase) : nullptr;
    if (signal != nullptr) return fmt::format("[{{WIFSIGNALED(s) && WTERMSIG(s) == SIG{}}}]", signal);
    return fmt::format("[{{WIFEXITED(s) && WEXITSTATUS(s) == {}}}]", status);
}

// `filled`: the call returned without failing, so its output arguments hold
// what the kernel stored.
Shown argument(ArgKind kind, const SyscallArgs &args, size_t index, int32_t result, bool filled,
               const GuestMemory &memory, size_t limit) {
    uint32_t value = args[index];
    uint32_t next = index + 1 < args.size() ? args[index + 1] : 0;
    switch (kind) {
    case ArgKind::FD:
    case ArgKind::INT: return number(static_cast<int32_t>(value));
    case ArgKind::UINT:
    case ArgKind::COUNT: return number(value);
    case ArgKind::HEX: return symbolic(fmt::format("{:#x}", value));
    case ArgKind::PTR: return pointer(value);
    case ArgKind::PATH: return text_argument(memory, value, limit);
    case ArgKind::BUF_IN: return bytes_argument(memory, value, next, limit);
    case ArgKind::BUF_OUT:
        return filled ? bytes_argument(memory, value, static_cast<uint32_t>(result), limit) : pointer(value);
    case ArgKind::BUF_OUT_STR: return filled ? text_argument(memory, value, limit) : pointer(value);
    case ArgKind::OPEN_FLAGS: return symbolic(open_flags(value));
    case ArgKind::OPEN_THIRD: return symbolic(fmt::format("third={:#x}", value));
    case ArgKind::MMAP_PROT: return symbolic(flag_names(value, kProtections, "PROT_NONE"));
    case ArgKind::MMAP_FLAGS: return symbolic(flag_names(value, kMapFlags, "0"));
    case ArgKind::WHENCE: return symbolic(whence(value));
    case ArgKind::NIC_INFO: return filled ? symbolic(nic_info(memory, value)) : pointer(value);
    case ArgKind::FD_PAIR: return filled ? symbolic(fd_pair(memory, value)) : pointer(value);
    case ArgKind::ARGV: return symbolic(argv_list(memory, value, static_cast<int32_t>(next)));
    case ArgKind::SPAWN_BLOCK: return symbolic(spawn_block(memory, value));
    // waitpid answers 0 without reaping anything (WNOHANG).
    case ArgKind::WAIT_STATUS: return result > 0 && value != 0 ? symbolic(wait_status(memory, value)) : pointer(value);
    }
    return pointer(value);
}

// Output arguments show what the kernel stored: unknown until the call ends.
bool stored_by_the_call(ArgKind kind) { return properties(kind).direction != Direction::In; }

// Errors whose host text would mislead: the sandbox reports a path that
// leaves the root as EXDEV.
struct KernelErrorText {
    int error;
    const char *text;
};
constexpr KernelErrorText kKernelErrorTexts[] = {{EXDEV, "path leaves the root"}};

}  // namespace

std::string quoted(const std::string &bytes, size_t length, size_t limit) {
    return c_quoted(reinterpret_cast<const uint8_t *>(bytes.data()), length, limit);
}

std::vector<Shown> decode_arguments(const SyscallEntry &entry, const SyscallArgs &args, const SyscallResult &result,
                                    const GuestMemory &memory, size_t limit) {
    bool filled = !result.ends_process && result.value >= 0;
    std::vector<Shown> shown;
    for (size_t i = 0; i < entry.arg_count; i++)
        shown.push_back(argument(entry.kinds[i], args, i, result.value, filled, memory, limit));
    return shown;
}

KnownArguments decode_known_arguments(const SyscallEntry &entry, const SyscallArgs &args, const GuestMemory &memory,
                                      size_t limit) {
    KnownArguments known;
    for (size_t i = 0; i < entry.arg_count; i++) {
        if (stored_by_the_call(entry.kinds[i])) {
            known.cut = true;
            break;
        }
        known.shown.push_back(argument(entry.kinds[i], args, i, 0, false, memory, limit));
    }
    return known;
}

std::string unknown_call_name(uint32_t number) { return fmt::format("syscall_{}", number); }

bool failed(const SyscallResult &result) { return !result.ends_process && result.value < 0; }

const char *error_description(int error) {
    for (const auto &known : kKernelErrorTexts)
        if (known.error == error) return known.text;
    return std::strerror(error);
}

std::string error_name(int error) {
    const char *name = strerrorname_np(error);
    return name != nullptr ? name : "E?";
}

}  // namespace kiv
