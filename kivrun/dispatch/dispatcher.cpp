#include "dispatch/dispatcher.h"

#include <chrono>

namespace kiv {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

SyscallResult Dispatcher::syscall(const SyscallRegisters &registers) {
    // The clock is read only for a trace, which shows how long calls take.
    // The recorded run was stopped from outside as it made this call.
    if (replayer_ != nullptr && replayer_->at_recorded_stop()) return process_end(0);
    Clock::time_point start = trace_ != nullptr ? Clock::now() : Clock::time_point{};
    const SyscallEntry *entry = find_syscall(registers.number);
    if (entry == nullptr) {
        if (trace_ != nullptr) trace_->unknown_call(registers, seconds_since(start));
        return {-1};  // no host errno: the trace line says why
    }
    if (trace_ != nullptr) trace_->begin(*entry, registers.args, process_.memory);
    bool injected = false;
    SyscallResult result = perform(*entry, registers.args, injected);
    if (trace_ != nullptr)
        trace_->call(*entry, registers.args, result, process_.memory, injected, seconds_since(start));
    return result;
}

SyscallResult Dispatcher::perform(const SyscallEntry &entry, const SyscallArgs &words, bool &injected) {
    if (replayer_ != nullptr) return replayer_->answer(entry, words, process_, injected);
    const Injection *injection = injector_.next(entry.number);
    injected = injection != nullptr;
    SyscallResult result = injected ? Injector::perform(*injection, entry, process_, words)
                                    : entry.handler(process_, words);
    if (recorder_ != nullptr) recorder_->call(entry, words, process_, result, injected);
    return result;
}

}  // namespace kiv
