#include "run/run.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "debug/debug_target.h"
#include "dispatch/dispatcher.h"
#include "dispatch/trace.h"
#include "machine/cpu.h"
#include "machine/guest_memory.h"
#include "machine/loader.h"
#include "machine/symbols.h"
#include "os/process.h"
#include "os/sandbox.h"
#include "run/children.h"
#include "run/fuzzed.h"
#include "run/recorded_run.h"
#include "run/spawn_record.h"
#include "run/watchdog.h"
#include "support/text.h"
#include "support/unique_fd.h"

namespace kiv {

namespace {

constexpr size_t kMaxBacktraceFrames = 16;

RunResult failure(RunResult::Outcome outcome, int exit_code, std::string message) {
    return {outcome, 0, exit_code, "kivrun: " + std::move(message)};
}

RunResult outcome_of(const Stop &stop, const std::string &program, const SymbolTable &symbols,
                     const RunOptions &options) {
    switch (stop.reason) {
    case StopReason::Exited: return {RunResult::Outcome::Exited, stop.status, stop.status & 0xff, ""};
    case StopReason::Faulted: {
        const Fault &fault = *stop.fault;
        std::string message = program + ": " + fault.what + " at eip " + hex(fault.eip) + symbols.suffix(fault.eip);
        if (fault.address) message += ", address " + hex(*fault.address);
        return failure(RunResult::Outcome::Faulted, fault.exit_code, message);
    }
    case StopReason::TimedOut: {
        char seconds[32];
        snprintf(seconds, sizeof seconds, "%g", options.settings.timeout_seconds.value_or(0));
        return failure(RunResult::Outcome::Stopped, kExitStopped,
                       program + ": stopped after the time limit of " + seconds + " s (--timeout)");
    }
    case StopReason::BlockLimit:
        return failure(RunResult::Outcome::Stopped, kExitStopped,
                       program + ": stopped after " + std::to_string(options.settings.block_limit) +
                           " executed blocks (--max-blocks)");
    case StopReason::Refused:
        return failure(RunResult::Outcome::NotLoadable, kExitNotLoadable, "cannot run " + program + ": " + stop.detail);
    case StopReason::EmulatorError:
        return failure(RunResult::Outcome::HostError, kExitHostError, program + ": " + stop.detail);
    }
    return failure(RunResult::Outcome::HostError, kExitHostError, program + ": unknown stop");
}

// A recording that cannot be used is refused as a bad trace or coverage file is.
int exit_code(const RecordingProblem &problem) {
    return problem.kind == RecordingProblem::Kind::Diverged ? kExitDiverged : kExitHostError;
}

// How the trace's last line tells the end of the run, as strace does.
std::string end_line(const Stop &stop) {
    switch (stop.reason) {
    case StopReason::Exited: return "exited with " + std::to_string(stop.status & 0xff);
    case StopReason::Faulted: {
        const char *signal = sigabbrev_np(stop.fault->exit_code - kSignalStatusBase);
        return std::string("killed by SIG") + (signal != nullptr ? signal : "?");
    }
    case StopReason::TimedOut: return "stopped by the time limit";
    case StopReason::BlockLimit: return "stopped by the block limit";
    case StopReason::Refused: return "refused: " + stop.detail;
    case StopReason::EmulatorError: return "stopped by an emulator failure";
    }
    return "stopped";
}

// The fault, the registers, and the calls that led there as far as the
// frame-pointer chain tells them.
void trace_fault(Trace &trace, const Fault &fault, const Cpu &cpu, const GuestMemory &memory,
                 const SymbolTable &symbols) {
    trace.note("fault: " + fault.what + "; " + cpu.register_dump());
    trace.note("#0 " + hex(fault.eip) + symbols.suffix(fault.eip));
    auto returns = frame_chain(memory, cpu.reg(UC_X86_REG_EBP), kMaxBacktraceFrames);
    for (size_t i = 0; i < returns.size(); i++)
        trace.note("#" + std::to_string(i + 1) + " " + hex(returns[i]) + symbols.suffix(returns[i]));
}

// The record is written however the run ended; when it cannot be, that is
// the run's failure.
void record_coverage(const CoverageRecorder &coverage, const RunOptions &options, RunResult &result) {
    CoverageRecorder::Saved saved = coverage.save();
    if (!saved.note.empty() && options.diagnostics != nullptr)
        fprintf(options.diagnostics, "kivrun: %s\n", saved.note.c_str());
    if (saved.error.empty()) return;
    if (!result.message.empty() && options.diagnostics != nullptr)
        fprintf(options.diagnostics, "%s\n", result.message.c_str());
    result = failure(RunResult::Outcome::HostError, kExitHostError, saved.error);
}

// Where the host keeps `program`: a spawned process knows it by its guest
// path, inside the root it inherited; the first one by the path it was given.
std::string program_host_path(const std::string &program, const Inheritance *inherited) {
    std::error_code error;
    if (inherited == nullptr) return std::filesystem::absolute(program, error).lexically_normal().string();
    std::filesystem::path root = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(inherited->root_fd),
                                                               error);
    std::filesystem::path inside = std::filesystem::path(inherited->cwd) / program;
    return (root / inside.relative_path()).lexically_normal().string();
}

// The time limit bounds the whole tree: a spawned process gets what is left.
std::optional<Deadline> run_deadline(const RunOptions &options) {
    // A replay stops where the recorded run was stopped, whatever the clock says.
    if (options.settings.recording.mode == RecordingSettings::Mode::Replay) return std::nullopt;
    if (options.inherited != nullptr) return options.inherited->deadline;
    if (!options.settings.timeout_seconds) return std::nullopt;
    return std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                  std::chrono::duration<double>(*options.settings.timeout_seconds));
}

// A replayed run can go back: its replayer answers again from where it was.
GdbSettings gdb_settings(uint16_t port, RecordedRun &recorded) {
    GdbSettings settings{port};
    if (Replayer *replayer = recorded.replayer())
        settings.inputs = [replayer] { return [replayer, at = replayer->position()] { replayer->seek(at); }; };
    return settings;
}

// Runs the loaded program to its end.
Stop run_loaded(Cpu &cpu, GuestMemory &memory, Sandbox &sandbox, const ExecutableImage &image, uint32_t stack,
                int cancel_fd, std::optional<Deadline> deadline, const RunOptions &options, RecordedRun &recorded) {
    uint32_t entry = image.entry;
    Process process(memory, sandbox, options.settings.nic, options.console_in, options.console_out, options.console_err,
                    cancel_fd);
    process.skip_sleeps = options.settings.skip_sleeps;
    process.diagnostics = options.diagnostics;
    std::optional<Trace> trace;
    if (options.trace != nullptr) {
        trace.emplace(options.trace, options.settings.trace_settings);
        // A replay's trace names the processes as the recorded run's did.
        trace->set_pid(recorded.recorded_pid().value_or(getpid()));
        trace->set_deadline(deadline);
    }
    Dispatcher dispatcher(process, trace ? &*trace : nullptr, options.settings.injection.injections);
    cpu.set_block_limit(options.settings.block_limit);
    if (options.settings.tsc) cpu.set_time_stamps(*options.settings.tsc);
    HostChildren children(process, options, deadline, trace ? &*trace : nullptr,
                          process_memory(image, options.settings));
    if (!options.settings.runner.empty()) process.children = &children;
    recorded.attach(cpu, dispatcher, options.settings.runner.empty() ? nullptr : &children);

    Stop stop = options.afl_shm_id ? run_for_afl({cpu, memory, dispatcher, image, stack, cancel_fd, options})
                : options.gdb_port ? run_with_gdb(cpu, memory, dispatcher, entry, stack,
                                                  gdb_settings(*options.gdb_port, recorded), cancel_fd)
                                   : cpu.run(memory, dispatcher, entry, stack);
    stop = recorded.finish(cpu, stop);
    if (!trace) return stop;
    if (stop.reason == StopReason::Faulted) trace_fault(*trace, *stop.fault, cpu, memory, image.symbols);
    trace->end(end_line(stop));
    return stop;
}

}  // namespace

RunResult run_program(const std::string &program, const std::vector<std::string> &argv, const RunOptions &options) {
    Result<std::vector<uint8_t>> file = read_executable(program);
    if (!file)
        return failure(RunResult::Outcome::NotFound, kExitNotFound, "cannot open " + program + ": " + file.error());
    return run_image(program, *file, argv, options);
}

RunResult run_image(const std::string &program, std::span<const uint8_t> file, const std::vector<std::string> &argv,
                    const RunOptions &options) {
    Result<ExecutableImage> image = parse_executable(file);
    if (!image)
        return failure(RunResult::Outcome::NotLoadable, kExitNotLoadable,
                       "cannot run " + program + ": " + image.error());
    RecordedRun recorded(options.settings);
    if (auto problem = recorded.open(program, file, argv, options.inherited != nullptr))
        return failure(RunResult::Outcome::HostError, exit_code(*problem), problem->message);

    std::string error;
    Sandbox sandbox;
    if (options.inherited == nullptr && !sandbox.open_root(options.root, error))
        return failure(RunResult::Outcome::HostError, kExitHostError, error);

    auto cpu = std::make_unique<Cpu>();
    if (cpu->engine() == nullptr)
        return failure(RunResult::Outcome::HostError, kExitHostError, "cannot start the CPU emulator");
    auto memory = std::make_unique<GuestMemory>(cpu->engine());
    if (!memory->reserved())
        return failure(RunResult::Outcome::HostError, kExitHostError,
                       "cannot reserve host address space for the guest's 4 GiB (is ulimit -v set?)");
    UniqueFd cancel(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!cancel.valid())
        return failure(RunResult::Outcome::HostError, kExitHostError, std::string("eventfd: ") + std::strerror(errno));
    // From here on, all the work a program's size decides runs under the
    // time limit.
    // AFL++'s target starts the limit anew for each execution (run/fuzzed.h).
    std::optional<Deadline> deadline = options.afl_shm_id ? std::nullopt : run_deadline(options);
    if (deadline) cpu->set_deadline(*deadline);
    std::optional<Watchdog> watchdog;
    if (!arm_time_limit(watchdog, *cpu, cancel.get(), deadline, options.stop_fd))
        return failure(RunResult::Outcome::HostError, kExitHostError, std::string("eventfd: ") + std::strerror(errno));

    if (!load_segments(*memory, *image, file))
        return failure(RunResult::Outcome::NotLoadable, kExitNotLoadable,
                       "cannot run " + program + ": its segments cannot be mapped");
    auto stack = build_stack(*memory, argv);
    if (!stack)
        return failure(RunResult::Outcome::HostError, kExitHostError,
                       "cannot run " + program + ": the arguments do not fit on the stack");

    std::optional<CoverageRecorder> coverage;
    const CoverageSettings &coverage_settings = options.settings.coverage;
    if (coverage_settings.enabled())
        cpu->count_blocks(
            coverage.emplace(coverage_settings, *image, file, program_host_path(program, options.inherited)).counts());
    Stop stop = run_loaded(*cpu, *memory, sandbox, *image, *stack, cancel.get(), deadline, options, recorded);
    watchdog.reset();
    if (options.exit_after_run) {
        // Unmapping the guest's memory and closing the emulator take a good
        // part of a short run; a process about to exit leaves both to the host.
        // They stay referenced from here (stores the compiler must keep), so a
        // leak checker does not count them as lost.
        [[maybe_unused]] static GuestMemory *volatile left_memory;
        [[maybe_unused]] static Cpu *volatile left_cpu;
        left_memory = memory.release();
        left_cpu = cpu.release();
    }
    // A replay stopped where the recorded run was tells the recorded block.
    RunOptions told = options;
    told.settings.block_limit = recorded.stop_block().value_or(options.settings.block_limit);
    RunResult result = outcome_of(stop, program, image->symbols, told);
    if (const auto &problem = recorded.problem())
        result = failure(RunResult::Outcome::HostError, exit_code(*problem), program + ": " + problem->message);
    if (coverage) record_coverage(*coverage, options, result);
    return result;
}

}  // namespace kiv
