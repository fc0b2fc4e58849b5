// kivrun: runs a kivos i386 executable on an emulated CPU and serves its
// system calls with the host's facilities.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "options.h"
#include "run/afl_exit.h"
#include "run/afl_map.h"
#include "run/run.h"
#include "run/spawned.h"

namespace {

// A standard descriptor the caller left closed would be the next one the
// host hands out: the trace or a guest's file would land where the console
// belongs. Each closed one is held by /dev/null instead.
void hold_closed_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
}

}  // namespace

int main(int argc, char **argv) {
    if (auto spawned = kiv::run_if_spawned(argc, argv)) return *spawned;
    hold_closed_standard_descriptors();
    // A write to a pipe whose reader went away fails with EPIPE for the
    // guest to see, instead of killing kivrun without a word.
    signal(SIGPIPE, SIG_IGN);
    kiv::CommandLine line = kiv::read_command_line(argc, argv, std::getenv(kiv::kOptionsVariable));
    if (!line.exit_status) kiv::prepare_outputs(line);
    if (line.exit_status) {
        fputs(line.message.c_str(), *line.exit_status == 0 ? stdout : stderr);
        return *line.exit_status;
    }
    kiv::RunOptions &run = line.run;
    run.diagnostics = stderr;
    run.exit_after_run = true;
    run.settings.runner = "/proc/self/exe";
    run.afl_shm_id = kiv::afl_shm_id_from_environment();

    kiv::RunResult result = kiv::run_program(line.program[0], line.program, run);
    if (run.trace != nullptr && run.trace != stderr) fclose(run.trace);
    if (!result.message.empty()) fprintf(stderr, "%s\n", result.message.c_str());
    return run.afl_shm_id ? kiv::afl_exit_status(result) : result.exit_code;
}
