// Running one guest program from start to exit: the stand-in kernel's
// public entry, used by the kivrun command and by the tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "coverage/coverage.h"
#include "memory_map.h"
#include "nic.h"
#include "process_tree.h"
#include "trace.h"
#include "tsc.h"

namespace kiv {

struct RunOptions {
    std::string root = ".";               // the guest's file system root
    NicConfig nic;
    FILE *trace = nullptr;                // system-call trace, when set
    TraceSettings trace_settings;         // its form, and the injections (which apply untraced too)
    FILE *diagnostics = nullptr;          // why a host facility failed the guest, when set
    std::optional<double> timeout_seconds;
    uint64_t block_limit = 0;             // executed basic blocks; 0 = none
    uint64_t memory_limit = kDefaultRunMemory;  // bytes the whole run may hold (the first program sets it)
    bool skip_sleeps = false;             // usleep returns at once
    std::optional<TscSequence> tsc;       // rdtsc answers; the host's counter when unset
    int console_in = 0;                   // host descriptors behind guest 0, 1, 2
    int console_out = 1;
    int console_err = 2;
    CoverageSettings coverage;            // the record the run's counts are added to
    std::optional<uint16_t> gdb_port;     // wait for gdb there before the first instruction (0: any free port)
    // The caller exits right after the run: the emulator and the guest's
    // memory are left for the host to reclaim instead of being torn down.
    bool exit_after_run = false;
    std::string runner = "/proc/self/exe";  // the kivrun that runs spawned programs
    const Inheritance *inherited = nullptr;  // set for a spawned program only
};

// kivrun's exit statuses besides the guest's own.
enum ExitCode : int {
    kExitStopped = 124,      // time or block limit reached
    kExitHostError = 125,    // bad usage, unusable root, emulator failure
    kExitNotLoadable = 126,  // not an executable this kernel runs
    kExitNotFound = 127,     // the program file cannot be opened
};

struct RunResult {
    enum class Outcome { Exited, NotFound, NotLoadable, Faulted, Stopped, HostError } outcome;
    int32_t status = 0;    // the guest's exit status, when it exited
    int exit_code = 0;     // what kivrun exits with
    std::string message;   // one line for the user; empty after a normal exit
};

// Loads `program` and runs it with `argv` (argv[0] is the program name as
// given). Never throws for anything the guest or its file does.
RunResult run_program(const std::string &program, const std::vector<std::string> &argv, const RunOptions &options);
// The same for a file already read; `program` names it in messages.
RunResult run_image(const std::string &program, std::span<const uint8_t> file, const std::vector<std::string> &argv,
                    const RunOptions &options);

}  // namespace kiv
