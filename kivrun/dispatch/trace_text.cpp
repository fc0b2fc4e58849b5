// strace's text: "write(1, "hello", 5) = 5", a failure's errno by name and
// meaning, an optional clock and, once the run has several processes, the
// process's tag before each line.
#include <sys/time.h>

#include <fmt/format.h>

#include <algorithm>
#include <ctime>
#include <vector>

#include "dispatch/trace_decode.h"
#include "dispatch/trace_writer.h"

namespace kiv {

namespace {

std::string as_text(const Shown &shown, size_t limit) {
    switch (shown.kind) {
    case Shown::Kind::Number: return fmt::format("{}", shown.number);
    case Shown::Kind::Bytes: return quoted(shown.text, shown.length, limit);
    case Shown::Kind::Symbolic: return shown.text;
    }
    return shown.text;
}

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

class TextWriter final : public TraceWriter {
public:
    TextWriter(LineClock clock, size_t string_limit) : clock_(clock), limit_(string_limit) {}

    std::string prefix(const TraceProcess &process) const override { return process.tag + clock_text(); }

    // What a call's line shows before the call ends, as strace shows it:
    // "read(3, " or "spawn_ex({...}".
    std::optional<OpenLine> open_line(const SyscallEntry &entry, const SyscallArgs &args,
                                      const GuestMemory &memory) const override {
        KnownArguments known = decode_known_arguments(entry, args, memory, limit_);
        std::string start = std::string(entry.name) + "(";
        for (size_t i = 0; i < known.shown.size(); i++) start += (i > 0 ? ", " : "") + as_text(known.shown[i], limit_);
        if (known.cut && !known.shown.empty()) start += ", ";
        return OpenLine{clock_text(), start};
    }

    std::string call(const CallLine &call, const TraceProcess &) const override {
        std::string text;
        for (const auto &argument : decode_arguments(call.entry, call.args, call.result, call.memory, limit_))
            text += (text.empty() ? "" : ", ") + as_text(argument, limit_);
        return fmt::format("{}({}) = {}{}", call.entry.name, text, result_text(call.entry.result, call.result),
                           call.injected ? " (INJECTED)" : "");
    }

    std::string unknown_call(const SyscallRegisters &registers, double, const TraceProcess &) const override {
        const SyscallArgs &a = registers.args;
        return fmt::format("{}({:#x}, {:#x}, {:#x}) = -1 (unknown system call)", unknown_call_name(registers.number),
                           a[0], a[1], a[2]);
    }

    std::string note(const std::string &text, const TraceProcess &) const override { return "--- " + text; }
    std::string end(const std::string &how, const TraceProcess &) const override { return "+++ " + how + " +++"; }

    // Every line of the table tagged, none timed.
    std::string summary(const TraceSummary &summary, const TraceProcess &process) const override {
        std::string table = summary.table(), text;
        for (size_t start = 0; start < table.size();) {
            size_t end = std::min(table.find('\n', start), table.size() - 1) + 1;
            text += process.tag + table.substr(start, end - start);
            start = end;
        }
        return text;
    }

private:
    // The clock and a space.
    std::string clock_text() const {
        switch (clock_) {
        case LineClock::None: return "";
        case LineClock::WallClock: return wall_clock() + " ";
        case LineClock::Epoch: return fmt::format("{:.6f} ", epoch_seconds());
        }
        return "";
    }

    LineClock clock_;
    size_t limit_;
};

}  // namespace

std::unique_ptr<TraceWriter> text_trace_writer(LineClock clock, size_t string_limit) {
    return std::make_unique<TextWriter>(clock, string_limit);
}

double epoch_seconds() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_usec) / 1e6;
}

}  // namespace kiv
