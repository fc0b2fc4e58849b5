#include "kernel.h"

namespace kiv {

SyscallResult Kernel::syscall(const SyscallRegisters &registers) {
    const SyscallEntry *entry = find_syscall(registers.number);
    if (entry == nullptr) {
        if (trace_ != nullptr) trace_->unknown_call(registers);
        return {-1};  // no host errno: the trace line says why
    }
    SyscallResult result = entry->handler(process_, registers.args);
    if (trace_ != nullptr) trace_->call(*entry, registers.args, result, process_.memory);
    return result;
}

}  // namespace kiv
