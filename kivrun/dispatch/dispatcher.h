// The dispatcher between the CPU and the handlers: looks the number up in
// the system-call table, runs the handler (or what an injection puts in its
// place, or a replay's recorded answer), records it when recording, and
// traces the call.
#pragma once

#include <vector>

#include "dispatch/inject.h"
#include "dispatch/recorder.h"
#include "dispatch/replayer.h"
#include "dispatch/trace.h"
#include "machine/cpu.h"
#include "os/process.h"

namespace kiv {

class Dispatcher : public SyscallHandler {
public:
    Dispatcher(Process &process, Trace *trace, std::vector<Injection> injections = {})
        : process_(process), trace_(trace), injector_(std::move(injections)) {}
    SyscallResult syscall(const SyscallRegisters &registers) override;

    // Every call answered from here on goes to `recorder`, or is answered
    // by `replayer` instead of its handler (each outlives the run; one at most).
    void record_to(Recorder &recorder) { recorder_ = &recorder; }
    void replay_from(Replayer &replayer) { replayer_ = &replayer; }

private:
    SyscallResult perform(const SyscallEntry &entry, const SyscallArgs &words, bool &injected);

    Process &process_;
    Trace *trace_;
    Injector injector_;
    Recorder *recorder_ = nullptr;
    Replayer *replayer_ = nullptr;
};

}  // namespace kiv
