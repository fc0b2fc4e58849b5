#include "kernel.h"

namespace kiv {

int32_t Kernel::syscall(const SyscallRegisters &registers) {
    const SyscallEntry *entry = find_syscall(registers.number);
    if (entry == nullptr) {
        if (trace_ != nullptr) trace_->call(nullptr, registers, -1, 0, process_.memory);
        return -1;
    }
    // exit does not return: its line is written before it takes effect.
    bool returns = entry->handler != sys_exit;
    if (!returns && trace_ != nullptr) trace_->call_without_return(*entry, registers, process_.memory);
    SyscallArgs args;
    std::copy(std::begin(registers.args), std::end(registers.args), args.begin());
    process_.error = 0;
    int32_t result = entry->handler(process_, args);
    if (returns && trace_ != nullptr) trace_->call(entry, registers, result, process_.error, process_.memory);
    return result;
}

}  // namespace kiv
