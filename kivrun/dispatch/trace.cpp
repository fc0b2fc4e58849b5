#include "dispatch/trace.h"

#include <fmt/format.h>

#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

#include "kiv_mmap.h"
#include "machine/syscall_types.h"
#include "os/open_flags.h"
#include "kiv_spawn.h"
#include "support/text.h"

namespace kiv {

namespace {

constexpr size_t kShownArguments = 8;
constexpr uint32_t kMaxShownText = 4096;
// Nested texts (argument vectors, the spawn block) are shown this short.
constexpr size_t kNestedTextLimit = 32;

// One argument as shown: a number, bytes from the guest (quoted), or text
// that is already in its shown form (flags, addresses, records).
struct Shown {
    enum class Kind { Number, Bytes, Symbolic } kind;
    int64_t number = 0;
    std::string text;   // Bytes: the first bytes; Symbolic: the whole text
    size_t length = 0;  // Bytes: how many there were in all
};

Shown number(int64_t value) { return {Shown::Kind::Number, value}; }
Shown symbolic(std::string text) { return {Shown::Kind::Symbolic, 0, std::move(text)}; }

std::string pointer_text(uint32_t address) { return address == 0 ? "NULL" : fmt::format("{:#x}", address); }
Shown pointer(uint32_t address) { return symbolic(pointer_text(address)); }

std::string quoted(const std::string &bytes, size_t length, size_t limit) {
    return c_quoted(reinterpret_cast<const uint8_t *>(bytes.data()), length, limit);
}

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
constexpr FlagRow kMapFlags[] = {{KIV_MAP_SHARED, 0, "MAP_SHARED"},
                                 {KIV_MAP_PRIVATE, 0, "MAP_PRIVATE"},
                                 {KIV_MAP_ANONYMOUS, 0, "MAP_ANONYMOUS"}};

// The names of the set bits joined by '|', unknown bits in hex at the end;
// `none` when no bit is set.
template <size_t N>
std::string flag_names(uint32_t flags, const FlagRow (&names)[N], const char *none) {
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
    for (uint32_t i = 0; i < static_cast<uint32_t>(count); i++) {
        if (i == kShownArguments) {
            text += ", ...";
            break;
        }
        uint32_t element;
        if (!memory.read(address + 4 * i, &element, sizeof element)) return pointer_text(address);
        text += (i > 0 ? ", " : "") + guest_text(memory, element, kNestedTextLimit).value_or(pointer_text(element));
    }
    return text + "]";
}

std::string nic_info(const GuestMemory &memory, uint32_t address) {
    NicInfo info;
    if (!memory.read(address, &info, sizeof info)) return pointer_text(address);
    return fmt::format("{{pci={:02x}:{:02x}.{:x}, mmio=0x{:08x}, "
                       "mac={:02x}:{:02x}:{:02x}:{:02x}:{:02x}:{:02x}, link={}}}",
                       info.bus, info.device, info.function, info.mmio_base, info.mac[0], info.mac[1], info.mac[2],
                       info.mac[3], info.mac[4], info.mac[5], info.link);
}

std::string spawn_block(const GuestMemory &memory, uint32_t address) {
    KivSpawnBlock block;
    if (!memory.read(address, &block, sizeof block)) return pointer_text(address);
    return fmt::format("{{path={}, argv={}, argc={}, {}, {}, {}, flag={}}}",
                       guest_text(memory, block.path, kNestedTextLimit).value_or(pointer_text(block.path)),
                       argv_list(memory, block.argv, block.argc), block.argc, block.child_stdin,
                       block.child_stdout, block.child_stderr, block.inherit_all);
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
bool filled_by_the_call(ArgKind kind) {
    return kind == ArgKind::BUF_OUT || kind == ArgKind::BUF_OUT_STR || kind == ArgKind::NIC_INFO ||
           kind == ArgKind::FD_PAIR || kind == ArgKind::WAIT_STATUS;
}

std::vector<Shown> arguments(const SyscallEntry &entry, const SyscallArgs &args, const SyscallResult &result,
                             const GuestMemory &memory, size_t limit) {
    bool filled = !result.ends_process && result.value >= 0;
    std::vector<Shown> shown;
    for (size_t i = 0; i < entry.arg_count; i++)
        shown.push_back(argument(entry.kinds[i], args, i, result.value, filled, memory, limit));
    return shown;
}

std::string as_text(const Shown &shown, size_t limit) {
    switch (shown.kind) {
    case Shown::Kind::Number: return fmt::format("{}", shown.number);
    case Shown::Kind::Bytes: return quoted(shown.text, shown.length, limit);
    case Shown::Kind::Symbolic: return shown.text;
    }
    return shown.text;
}

// What a call's line shows before the call ends, as strace shows it:
// "read(3, " or "spawn_ex({...}".
std::string call_start(const SyscallEntry &entry, const SyscallArgs &args, const GuestMemory &memory, size_t limit) {
    std::string text = std::string(entry.name) + "(";
    for (size_t i = 0; i < entry.arg_count; i++) {
        if (filled_by_the_call(entry.kinds[i])) return text + (i > 0 ? ", " : "");
        text += (i > 0 ? ", " : "") + as_text(argument(entry.kinds[i], args, i, 0, false, memory, limit), limit);
    }
    return text;
}

// Bytes as a JSON string: every byte outside printable ASCII as \u00NN, so
// the line stays valid UTF-8 whatever the guest wrote.
std::string json_string(std::string_view bytes) {
    std::string text = "\"";
    for (char byte : bytes) {
        auto code = static_cast<unsigned char>(byte);
        if (byte == '"' || byte == '\\') text += {'\\', byte};
        else if (printable_ascii(code)) text += byte;
        else text += fmt::format("\\u{:04x}", code);
    }
    return text + "\"";
}

std::string as_json(const Shown &shown) {
    return shown.kind == Shown::Kind::Number ? fmt::format("{}", shown.number) : json_string(shown.text);
}

// Errors whose host text would mislead: the sandbox reports a path that
// leaves the root as EXDEV.
struct KernelErrorText {
    int error;
    const char *text;
};
constexpr KernelErrorText kKernelErrorTexts[] = {{EXDEV, "path leaves the root"}};

const char *error_description(int error) {
    for (const auto &known : kKernelErrorTexts)
        if (known.error == error) return known.text;
    return std::strerror(error);
}

std::string error_name(int error) {
    const char *name = strerrorname_np(error);
    return name != nullptr ? name : "E?";
}

bool failed(const SyscallResult &result) { return !result.ends_process && result.value < 0; }

std::string result_text(ResultKind kind, const SyscallResult &result) {
    if (result.ends_process) return "?";
    std::string text = kind == ResultKind::ADDRESS && result.value != -1
                           ? fmt::format("{:#x}", static_cast<uint32_t>(result.value))
                           : fmt::format("{}", result.value);
    if (failed(result) && result.error != 0)
        text += fmt::format(" {} ({})", error_name(result.error), error_description(result.error));
    return text;
}

// HH:MM:SS.uuuuuu in local time, as strace -tt.
std::string wall_clock() {
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return fmt::format("{:02}:{:02}:{:02}.{:06}", local.tm_hour, local.tm_min, local.tm_sec, now.tv_usec);
}

double epoch_seconds() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_usec) / 1e6;
}

}  // namespace

bool SharedTrace::init() {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0) return false;
    bool done = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                pthread_mutex_init(&lock, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return done;
}

std::string TraceSettings::apply_expression(const std::string &expression) {
    constexpr std::string_view kTrace = "trace=", kInject = "inject=";
    std::string_view text = expression;
    std::string problem;
    if (text.starts_with(kTrace)) {
        auto numbers = parse_call_selection(text.substr(kTrace.size()), problem);
        if (!numbers) return problem;
        // As in strace, choosing calls to trace turns the trace on.
        enabled = true;
        selected.insert(selected.end(), numbers->begin(), numbers->end());
        std::sort(selected.begin(), selected.end());
        selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
        return "";
    }
    if (!text.starts_with(kInject)) return "neither trace=CALLS nor inject=CALLS:ACTION";
    auto injection = parse_injection(text.substr(kInject.size()), problem);
    if (injection) injections.push_back(std::move(*injection));
    return problem;
}

bool Trace::wants(uint32_t number) const {
    return settings_.selected.empty() ||
           std::binary_search(settings_.selected.begin(), settings_.selected.end(), number);
}

// trace=all, or a selection naming every call, shows the calls the kernel
// does not know too.
bool Trace::wants_unknown_calls() const {
    return settings_.selected.empty() || settings_.selected.size() == all_syscalls().size();
}

std::string Trace::json_start() const { return fmt::format("{{\"pid\":{},", pid_); }

void Trace::call(const SyscallEntry &entry, const SyscallArgs &args, const SyscallResult &result,
                 const GuestMemory &memory, bool injected, double seconds) {
    if (!wants(entry.number)) return;
    if (settings_.summary_only) return summary_.add(entry.name, failed(result), seconds);
    size_t limit = settings_.string_limit;
    auto shown = arguments(entry, args, result, memory, limit);
    if (settings_.format == TraceFormat::Text) {
        std::string text;
        for (const auto &argument : shown) text += (text.empty() ? "" : ", ") + as_text(argument, limit);
        return end_call(entry.name, fmt::format("{}({}) = {}{}", entry.name, text, result_text(entry.result, result),
                                                injected ? " (INJECTED)" : ""));
    }
    std::string list;
    for (const auto &argument : shown) list += (list.empty() ? "" : ",") + as_json(argument);
    std::string error = failed(result) && result.error != 0 ? json_string(error_name(result.error)) : "null";
    std::string value = result.ends_process ? "null" : fmt::format("{}", result.value);
    line(fmt::format("{}\"call\":\"{}\",\"args\":[{}],\"result\":{},\"error\":{},\"injected\":{},\"time\":{:.6f},"
                     "\"duration\":{:.6f}}}",
                     json_start(), entry.name, list, value, error, injected, epoch_seconds(), seconds));
}

void Trace::unknown_call(const SyscallRegisters &registers, double seconds) {
    if (!wants_unknown_calls()) return;
    std::string name = fmt::format("syscall_{}", registers.number);
    if (settings_.summary_only) return summary_.add(name, true, seconds);
    const SyscallArgs &a = registers.args;
    if (settings_.format == TraceFormat::Text)
        return line(fmt::format("{}({:#x}, {:#x}, {:#x}) = -1 (unknown system call)", name, a[0], a[1], a[2]));
    line(fmt::format("{}\"call\":\"{}\",\"args\":[{},{},{}],\"result\":-1,\"error\":\"unknown system call\","
                     "\"injected\":false,\"time\":{:.6f},\"duration\":{:.6f}}}",
                     json_start(), name, a[0], a[1], a[2], epoch_seconds(), seconds));
}

void Trace::note(const std::string &text) {
    if (settings_.summary_only) return;
    line(settings_.format == TraceFormat::Text ? "--- " + text : json_start() + "\"note\":" + json_string(text) + "}");
}

void Trace::end(const std::string &how) {
    if (settings_.summary_only) return print_summary();
    line(settings_.format == TraceFormat::Text ? "+++ " + how + " +++"
                                               : json_start() + "\"end\":" + json_string(how) + "}");
}

// One write for the whole table, so that the tables of processes sharing
// the trace do not interleave.
void Trace::print_summary() {
    std::string text;
    if (settings_.format == TraceFormat::Json) {
        text = json_start() + "\"summary\":" + summary_.json() + "}\n";
    } else {
        std::string table = summary_.table();
        for (size_t start = 0; start < table.size();) {
            size_t end = std::min(table.find('\n', start), table.size() - 1) + 1;
            text += tag_ + table.substr(start, end - start);
            start = end;
        }
    }
    write_line(text);
}

void Trace::begin(const SyscallEntry &entry, const SyscallArgs &args, const GuestMemory &memory) {
    open_.reset();
    if (shared_ == nullptr || settings_.summary_only || settings_.format != TraceFormat::Text || !wants(entry.number))
        return;
    OpenCall call{call_start(entry, args, memory, settings_.string_limit), clock_text(), 0};
    // Kept without the tag: whoever shows it unfinished tags it.
    std::string shown = call.time + call.start;
    // A start too long to keep for others to show is shown unfinished at
    // once, when there are others; alone, the process writes its line whole.
    bool fits = shown.size() <= SharedTrace::kOpenCallBytes;
    if (!fits && tag_.empty()) return;
    SharedLock lock(shared_->lock, deadline_);
    if (!lock.held()) return;
    close_open_call();
    call.opened_at = shared_->lines;
    if (fits) {
        std::memcpy(shared_->open_text, shown.data(), shown.size());
        shared_->open_length = static_cast<uint32_t>(shown.size());
        shared_->open_pid = pid_;
    } else {
        write_out(tag_ + shown + " <unfinished ...>\n");
        shared_->lines++;
    }
    open_ = std::move(call);
}

// The line is whole when nothing was written since the call began (the
// count of lines tells); otherwise its start was shown unfinished.
void Trace::end_call(const std::string &name, const std::string &text) {
    if (!open_) return line(text);
    OpenCall call = std::move(*open_);
    open_.reset();
    SharedLock lock(shared_->lock, deadline_);
    if (!lock.held()) return;
    if (shared_->lines == call.opened_at && shared_->open_pid == pid_) {
        shared_->open_pid = 0;
        write_out(tag_ + call.time + text + "\n");
    } else {
        close_open_call();
        write_out(prefix() + "<... " + name + " resumed>" + text.substr(std::min(call.start.size(), text.size())) +
                  "\n");
    }
    shared_->lines++;
}

// Another process's line is tagged: the run has several processes by now.
void Trace::close_open_call() {
    int32_t owner = shared_->open_pid;
    if (owner == 0) return;
    uint32_t length = std::min<uint32_t>(shared_->open_length, SharedTrace::kOpenCallBytes);
    std::string tag = owner == pid_ ? tag_ : "[pid " + std::to_string(owner) + "] ";
    write_out(tag + std::string(shared_->open_text, length) + " <unfinished ...>\n");
    shared_->open_pid = 0;
    shared_->lines++;
}

// -ttt's seconds since the epoch or -tt's wall-clock time, and a space.
std::string Trace::clock_text() const {
    if (settings_.epoch_times) return fmt::format("{:.6f} ", epoch_seconds());
    return settings_.times ? wall_clock() + " " : "";
}

std::string Trace::prefix() const {
    // JSON lines name their process in a field of their own.
    return settings_.format == TraceFormat::Text ? tag_ + clock_text() : "";
}

void Trace::line(const std::string &text) { write_line(prefix() + text + "\n"); }

void Trace::write_line(const std::string &bytes) {
    if (shared_ == nullptr) return write_out(bytes);
    SharedLock lock(shared_->lock, deadline_);
    if (!lock.held()) return;
    close_open_call();
    write_out(bytes);
    shared_->lines++;
}

// One write per line, to a descriptor opened for appending: a line never
// tears, and lines of processes sharing the trace never merge. Writers of
// the trace also take turns (the shared lock), so even on a pipe, where the
// host keeps only writes up to PIPE_BUF whole, trace lines never mix with
// one another; a longer line may still have other bytes written to the same
// pipe (the program's own standard error, say) land inside it.
void Trace::write_out(const std::string &bytes) const { write_trace_bytes(fileno(out_), bytes, deadline_); }

}  // namespace kiv
