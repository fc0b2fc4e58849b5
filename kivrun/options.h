// kivrun's command line: the one place where its words become the run's
// typed settings. Reading it prints nothing and never exits, so that it can
// be checked in process.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "run/run_options.h"

namespace kiv {

struct CommandLine {
    RunOptions run;                         // the trace's stream is set by open_trace
    std::optional<std::string> trace_path;  // where the trace goes; standard error when unset
    std::vector<std::string> program;       // the program as given, then its arguments
    // Set when kivrun ends before running anything (after --help, --version
    // or a usage error): the status, and what to print (on standard output
    // for status 0, standard error otherwise).
    std::optional<int> exit_status;
    std::string message;
};

// The environment variable whose words are read as options before the
// command line's.
inline constexpr const char *kOptionsVariable = "KIVRUN_OPTIONS";

// `environment_options` is the variable's text (nullptr when it is unset).
CommandLine read_command_line(int argc, char **argv, const char *environment_options = nullptr);

// Creates the coverage file when coverage is asked for, and opens the
// trace's destination when a trace or summary is; a file that cannot be
// written stops kivrun as a usage error does.
void prepare_outputs(CommandLine &line);

}  // namespace kiv
