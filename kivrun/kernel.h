// The dispatcher between the CPU and the handlers: looks the number up in
// the system-call table, runs the handler and traces the call.
#pragma once

#include "cpu.h"
#include "process.h"
#include "trace.h"

namespace kiv {

class Kernel : public SyscallHandler {
public:
    Kernel(Process &process, Trace *trace) : process_(process), trace_(trace) {}
    SyscallResult syscall(const SyscallRegisters &registers) override;

private:
    Process &process_;
    Trace *trace_;
};

}  // namespace kiv
