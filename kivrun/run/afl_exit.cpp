#include "run/afl_exit.h"

#include <unistd.h>

#include <csignal>

#include "machine/syscall_types.h"

namespace kiv {

namespace {

[[noreturn]] void die_by(int signal) {
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    _exit(kSignalStatusBase + signal);
}

}  // namespace

// A hang is AFL++'s verdict, made when its own time limit kills the
// target; a target that ended itself would be a crash or an exit.
int afl_exit_status(const RunResult &result) {
    if (result.outcome == RunResult::Outcome::Faulted && result.exit_code > kSignalStatusBase)
        die_by(result.exit_code - kSignalStatusBase);
    if (result.outcome == RunResult::Outcome::Stopped) {
        for (unsigned left = kHangWaitSeconds; left > 0;) left = sleep(left);
    }
    return result.exit_code;
}

}  // namespace kiv
