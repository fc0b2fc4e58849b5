#include "dispatch/trace.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "dispatch/trace_decode.h"

namespace kiv {

namespace {

std::unique_ptr<TraceWriter> writer_for(const TraceSettings &settings) {
    if (settings.format == TraceFormat::Json) return json_trace_writer(settings.string_limit);
    LineClock clock = settings.epoch_times ? LineClock::Epoch : settings.times ? LineClock::WallClock : LineClock::None;
    return text_trace_writer(clock, settings.string_limit);
}

}  // namespace

Trace::Trace(FILE *out, const TraceSettings &settings)
    : settings_(settings), writer_(writer_for(settings)), lines_(out) {}

bool Trace::wants(uint32_t number) const {
    return settings_.selected.empty() ||
           std::binary_search(settings_.selected.begin(), settings_.selected.end(), number);
}

// trace=all, or a selection naming every call, shows the calls the kernel
// does not know too.
bool Trace::wants_unknown_calls() const {
    return settings_.selected.empty() || settings_.selected.size() == all_syscalls().size();
}

void Trace::begin(const SyscallEntry &entry, const SyscallArgs &args, const GuestMemory &memory) {
    lines_.drop_open_call();
    if (!lines_.shared() || settings_.summary_only || !wants(entry.number)) return;
    if (auto start = writer_->open_line(entry, args, memory)) lines_.open(std::move(*start));
}

void Trace::call(const SyscallEntry &entry, const SyscallArgs &args, const SyscallResult &result,
                 const GuestMemory &memory, bool injected, double seconds) {
    if (!wants(entry.number)) return;
    if (settings_.summary_only) return summary_.add(entry.name, failed(result), seconds);
    const TraceProcess &process = lines_.process();
    std::string text = writer_->call({entry, args, result, memory, injected, seconds}, process);
    lines_.finish(entry.name, text, writer_->prefix(process));
}

void Trace::unknown_call(const SyscallRegisters &registers, double seconds) {
    if (!wants_unknown_calls()) return;
    if (settings_.summary_only) return summary_.add(unknown_call_name(registers.number), true, seconds);
    line(writer_->unknown_call(registers, seconds, lines_.process()));
}

void Trace::note(const std::string &text) {
    if (settings_.summary_only) return;
    line(writer_->note(text, lines_.process()));
}

// The summary goes out in one write, so that the tables of processes
// sharing the trace do not interleave.
void Trace::end(const std::string &how) {
    if (settings_.summary_only) return lines_.write(writer_->summary(summary_, lines_.process()));
    line(writer_->end(how, lines_.process()));
}

void Trace::line(const std::string &text) { lines_.write(writer_->prefix(lines_.process()) + text + "\n"); }

}  // namespace kiv
