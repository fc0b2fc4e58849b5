#include "kernel.h"

namespace kiv {

int32_t Kernel::syscall(const SyscallRegisters &registers) {
    const SyscallSpec *spec = find_syscall(registers.number);
    if (spec == nullptr) {
        if (trace_ != nullptr) trace_->call(nullptr, registers, -1, 0, process_.memory);
        return -1;
    }
    // exit does not return: its line is written before it takes effect.
    bool returns = spec->handler != sys_exit;
    if (!returns && trace_ != nullptr) trace_->call_without_return(*spec, registers, process_.memory);
    SyscallArgs args;
    std::copy(std::begin(registers.args), std::end(registers.args), args.begin());
    process_.error = 0;
    int32_t result = spec->handler(process_, args);
    if (returns && trace_ != nullptr) trace_->call(spec, registers, result, process_.error, process_.memory);
    return result;
}

}  // namespace kiv
