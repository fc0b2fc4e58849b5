// The dispatcher between the CPU and the handlers: looks the number up in
// the system-call table, runs the handler (or what an injection puts in its
// place) and traces the call.
#pragma once

#include <vector>

#include "machine/cpu.h"
#include "dispatch/inject.h"
#include "os/process.h"
#include "dispatch/trace.h"

namespace kiv {

class Dispatcher : public SyscallHandler {
public:
    Dispatcher(Process &process, Trace *trace, std::vector<Injection> injections = {})
        : process_(process), trace_(trace), injector_(std::move(injections)) {}
    SyscallResult syscall(const SyscallRegisters &registers) override;

private:
    Process &process_;
    Trace *trace_;
    Injector injector_;
};

}  // namespace kiv
