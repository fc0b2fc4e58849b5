#include "dispatch/recorder.h"

#include <x86intrin.h>

#include "dispatch/filled_ranges.h"

namespace kiv {

namespace {

// Whether a write went to the run's console: a replay writes it again.
bool console_write(const SyscallEntry &entry, const SyscallArgs &words, const Process &process,
                   const SyscallResult &result) {
    if (entry.number != KIV_SYS_write || result.value <= 0) return false;
    const FdTable::Descriptor *descriptor = process.fds.find(static_cast<int32_t>(words[0]));
    return descriptor != nullptr && descriptor->console;
}

uint8_t call_flags(bool ends_process, bool injected, bool console) {
    return static_cast<uint8_t>((ends_process ? kCallEndsProcess : 0) | (injected ? kCallInjected : 0) |
                                (console ? kCallConsole : 0));
}

}  // namespace

void Recorder::call(const SyscallEntry &entry, const SyscallArgs &words, const Process &process,
                    const SyscallResult &result, bool injected) {
    RecordedCall call;
    call.head = {cpu_.blocks(),
                 entry.number,
                 result.value,
                 result.error,
                 call_flags(result.ends_process, injected, console_write(entry, words, process, result)),
                 entry.arg_count,
                 0,
                 0};
    call.words = words;
    FilledRanges filled = filled_ranges(entry, words, result.value);
    for (uint8_t i = 0; i < filled.count; i++) {
        const FilledRange &range = filled.ranges[i];
        // A range the guest cannot read was not filled: the call failed there.
        auto bytes = process.memory.view(range.address, range.length, 0);
        call.ranges[i] = bytes ? *bytes : std::span<const uint8_t>();
    }
    call.head.range_count = filled.count;
    writer_.call(call);
}

std::optional<uint64_t> Recorder::read() {
    uint64_t value = sequence_ ? sequence_->at(reads_++) : __rdtsc();
    writer_.time_stamp(value);
    return value;
}

RecordedEnd recorded_end(const Stop &stop, uint64_t block) {
    RecordedStop kept = RecordedStop::Other;
    int32_t status = 0;
    switch (stop.reason) {
    case StopReason::Exited: kept = RecordedStop::Exited, status = stop.status; break;
    case StopReason::Faulted: kept = RecordedStop::Faulted, status = stop.fault->exit_code; break;
    case StopReason::TimedOut: kept = RecordedStop::TimedOut; break;
    case StopReason::BlockLimit:
        // The limit is met as the next block begins, which does not run.
        kept = RecordedStop::BlockLimit, block = block > 0 ? block - 1 : 0;
        break;
    case StopReason::Refused:
    case StopReason::EmulatorError: break;
    }
    return {block, kept, {}, status};
}

}  // namespace kiv
