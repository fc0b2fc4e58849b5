// Running one guest program from start to exit: the stand-in kernel's
// public entry, used by the kivrun command and by the tests.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "run/run_options.h"

namespace kiv {

// kivrun's exit statuses besides the guest's own.
enum ExitCode : int {
    kExitDiverged = 123,     // a replay met a program or call other than the recorded one
    kExitStopped = 124,      // time or block limit reached
    kExitHostError = 125,    // bad usage, unusable root, emulator failure
    kExitNotLoadable = 126,  // not an executable this kernel runs
    kExitNotFound = 127,     // the program file cannot be opened
};

struct RunResult {
    enum class Outcome { Exited, NotFound, NotLoadable, Faulted, Stopped, HostError } outcome;
    int32_t status = 0;   // the guest's exit status, when it exited
    int exit_code = 0;    // what kivrun exits with
    std::string message;  // one line for the user; empty after a normal exit
};

// Loads `program` and runs it with `argv` (argv[0] is the program name as
// given). Never throws for anything the guest or its file does.
RunResult run_program(const std::string &program, const std::vector<std::string> &argv, const RunOptions &options);
// The same for a file already read; `program` names it in messages.
RunResult run_image(const std::string &program, std::span<const uint8_t> file, const std::vector<std::string> &argv,
                    const RunOptions &options);

}  // namespace kiv
