// How a run under AFL++ ends: the way AFL++ classifies executions. A fault
// ends the process by its signal (a crash), a time-out leaves it running
// until AFL++ kills it (a hang), an exit is an exit.
#pragma once

#include "run/run.h"

namespace kiv {

// Ends the process the way AFL++ classifies `result`: by the fault's
// signal, or, when the run was stopped by its time or block limit, by
// waiting (at most kHangWaitSeconds) for AFL++ to kill it as a hang. Returns the
// exit status for every other outcome.
int afl_exit_status(const RunResult &result);
inline constexpr unsigned kHangWaitSeconds = 3600;

}  // namespace kiv
