#include "dispatch/dispatcher.h"

#include <chrono>

namespace kiv {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

SyscallResult Dispatcher::syscall(const SyscallRegisters &registers) {
    // The clock is read only for a trace, which shows how long calls take.
    Clock::time_point start = trace_ != nullptr ? Clock::now() : Clock::time_point{};
    const SyscallEntry *entry = find_syscall(registers.number);
    if (entry == nullptr) {
        if (trace_ != nullptr) trace_->unknown_call(registers, seconds_since(start));
        return {-1};  // no host errno: the trace line says why
    }
    if (trace_ != nullptr) trace_->begin(*entry, registers.args, process_.memory);
    const Injection *injection = injector_.next(entry->number);
    SyscallResult result = injection != nullptr
                               ? Injector::perform(*injection, *entry, process_, registers.args)
                               : entry->handler(process_, registers.args);
    if (trace_ != nullptr)
        trace_->call(*entry, registers.args, result, process_.memory, injection != nullptr, seconds_since(start));
    return result;
}

}  // namespace kiv
