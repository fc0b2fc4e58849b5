// One JSON object per line, for programs: the process in a field of its
// own, every byte of the guest's outside printable ASCII escaped, so a line
// is valid UTF-8 whatever the guest wrote.
#include <fmt/format.h>

#include <string_view>

#include "dispatch/trace_decode.h"
#include "dispatch/trace_writer.h"
#include "support/text.h"

namespace kiv {

namespace {

std::string json_string(std::string_view bytes) {
    std::string text = "\"";
    for (char byte : bytes) {
        auto c = static_cast<unsigned char>(byte);
        if (c == '"' || c == '\\') text += {'\\', static_cast<char>(c)};
        else if (printable_ascii(c)) text += static_cast<char>(c);
        else text += fmt::format("\\u{:04x}", c);
    }
    return text + "\"";
}

std::string as_json(const Shown &shown) {
    return shown.kind == Shown::Kind::Number ? fmt::format("{}", shown.number) : json_string(shown.text);
}

std::string json_start(const TraceProcess &process) { return fmt::format("{{\"pid\":{},", process.pid); }

class JsonWriter final : public TraceWriter {
public:
    explicit JsonWriter(size_t string_limit) : limit_(string_limit) {}

    std::string prefix(const TraceProcess &) const override { return ""; }
    std::optional<OpenLine> open_line(const SyscallEntry &, const SyscallArgs &, const GuestMemory &) const override {
        return std::nullopt;
    }

    std::string call(const CallLine &call, const TraceProcess &process) const override {
        std::string list;
        for (const auto &argument : decode_arguments(call.entry, call.args, call.result, call.memory, limit_))
            list += (list.empty() ? "" : ",") + as_json(argument);
        const SyscallResult &result = call.result;
        std::string error = failed(result) && result.error != 0 ? json_string(error_name(result.error)) : "null";
        std::string value = result.ends_process ? "null" : fmt::format("{}", result.value);
        return fmt::format(
            "{}\"call\":\"{}\",\"args\":[{}],\"result\":{},\"error\":{},\"injected\":{},"
            "\"time\":{:.6f},\"duration\":{:.6f}}}",
            json_start(process), call.entry.name, list, value, error, call.injected, epoch_seconds(), call.seconds);
    }

    std::string unknown_call(const SyscallRegisters &registers, double seconds,
                             const TraceProcess &process) const override {
        const SyscallArgs &a = registers.args;
        return fmt::format(
            "{}\"call\":\"{}\",\"args\":[{},{},{}],\"result\":-1,\"error\":\"unknown system call\","
            "\"injected\":false,\"time\":{:.6f},\"duration\":{:.6f}}}",
            json_start(process), unknown_call_name(registers.number), a[0], a[1], a[2], epoch_seconds(), seconds);
    }

    std::string note(const std::string &text, const TraceProcess &process) const override {
        return json_start(process) + "\"note\":" + json_string(text) + "}";
    }
    std::string end(const std::string &how, const TraceProcess &process) const override {
        return json_start(process) + "\"end\":" + json_string(how) + "}";
    }
    std::string summary(const TraceSummary &summary, const TraceProcess &process) const override {
        return json_start(process) + "\"summary\":" + summary.json() + "}\n";
    }

private:
    size_t limit_;
};

}  // namespace

std::unique_ptr<TraceWriter> json_trace_writer(size_t string_limit) {
    return std::make_unique<JsonWriter>(string_limit);
}

}  // namespace kiv
