#include "options.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "dispatch/expression.h"
#include "machine/cpu.h"
#include "machine/memory_map.h"
#include "os/nic_address.h"
#include "run/run.h"
#include "support/number.h"

namespace {

using kiv::number_hint;
using kiv::parse_number;
using kiv::Result;
using kiv::cli::Option;
using kiv::cli::set_flag;
using kiv::cli::store_number;
using kiv::cli::store_parsed;
using kiv::cli::store_text;
using kiv::cli::Takes;

constexpr const char *kDescription = R"(Run a kivos i386 executable on an emulated CPU, serving its system calls
with the host's facilities. PROGRAM gets ARG... as its arguments, with
PROGRAM as given as argv[0]. Options end at PROGRAM: every word after it
is the program's.
)";

// After the options: the environment and the exit statuses.
constexpr const char *kFooter = R"(Environment: the words of KIVRUN_OPTIONS are read as options before the
command line's, so that an option given in both takes the command line's
value (-e and -t add to the variable's). Blanks separate the words; '...'
and "..." quote as in a shell, without expansion.

Exit status: the program's own status (0-255), or
  123  --replay met another program, argument or call than the recorded ones
  124  stopped by --timeout or --max-blocks
  125  bad usage, unusable root, trace file or recording, or a failure of the emulator
  126  PROGRAM is not an executable this kernel runs
  127  PROGRAM cannot be opened
  128+N  the program faulted; N is the signal a Linux process would get:
       132 invalid instruction, 133 breakpoint, 135 bus error,
       136 divide error, 139 memory or protection fault
)";

constexpr double kMaxSeconds = 1e9;

struct Settings {
    kiv::RunOptions run;
    std::optional<std::string> trace_path;
    int trace_letters = 0;
    bool coverage_format_given = false;
};

// A trace line holds at most this many bytes of one text or buffer.
constexpr uint32_t kMaxStringLimit = 1 << 20;
// --max-memory counts in MiB.
constexpr uint32_t kMebibyteShift = 20;

// -t turns the trace on; a second -t (-tt) adds the wall-clock time, a
// third (-ttt) shows it as seconds since the epoch.
bool count_trace_letter(Settings &settings) {
    kiv::TraceSettings &trace = settings.run.settings.trace_settings;
    trace.enabled = true;
    trace.times = ++settings.trace_letters > 1;
    trace.epoch_times = settings.trace_letters > 2;
    return true;
}

// A positive, finite number of seconds in decimal, perhaps with a fraction
// or an exponent; strtod's signs, spaces, hex and "inf" are refused.
Result<double> parse_seconds(const char *text) {
    const kiv::Failure<std::string> refused{"a positive number of seconds"};
    if ((!(text[0] >= '0' && text[0] <= '9') && text[0] != '.') || std::strpbrk(text, "xX") != nullptr) return refused;
    char *end = nullptr;
    errno = 0;
    double parsed = std::strtod(text, &end);
    if (*end != '\0' || errno != 0 || !(parsed > 0) || parsed > kMaxSeconds) return refused;
    return parsed;
}

// --record and --replay name the recording's directory, as an absolute path
// (spawned processes run elsewhere).
bool store_recording(kiv::RunSettings &run, const char *path, kiv::RecordingSettings::Mode mode) {
    std::error_code error;
    run.recording.directory = std::filesystem::absolute(path, error).lexically_normal().string();
    run.recording.mode = mode;
    return *path != '\0' && !error;
}

// The option rows, in --help's order. The trace's letters are strace's.
std::vector<Option> option_table(Settings &settings) {
    kiv::RunOptions &options = settings.run;
    kiv::RunSettings &run = options.settings;
    kiv::TraceSettings &trace = run.trace_settings;
    kiv::InjectionSettings &injection = run.injection;
    kiv::NicConfig &nic = run.nic;
    const std::string u32 = number_hint<uint32_t>();
    const std::string tsc_parts = "each " + number_hint<uint64_t>();
    return {
        {'r', "root", Takes::Value, "DIR",
         "the guest's file system root; no guest path can leave it (default: the current directory)", "",
         store_text(options.root)},
        {'t', "trace", Takes::OptionalLongOnly, "FILE",
         "log every system call, one line per call, to standard error or FILE (only in the long form: -t takes "
         "no value); -tt adds the wall-clock time to each line, -ttt as seconds since the epoch",
         "",
         [&settings](const char *path) {
             if (path != nullptr) settings.trace_path = path;
             return count_trace_letter(settings);
         }},
        {'o', "output", Takes::Value, "FILE",
         "write the trace to FILE, and turn it on (a fifo needs a reader; from the --timeout deadline on, what the "
         "output cannot take at once is dropped)",
         "",
         [&settings, &trace](const char *path) {
             settings.trace_path = path;
             trace.enabled = true;
             return true;
         }},
        {'e', "expr", Takes::Value, "EXPR",
         "trace=CALLS traces only those calls, and turns the trace on; CALLS is all, or names and classes "
         "(%file, %process, %memory, %desc, %console, %nic) joined by commas, perhaps negated by a leading !; "
         "inject=CALLS:error=ENAME, inject=CALLS:retval=N (the call is not performed and answers -1 with that "
         "error, or N) or inject=CALLS:short=N (a read or write moves at most N bytes), on every such call, or "
         "with :when=N only the Nth, N+ the Nth and later, N+S the Nth and every Sth after it; may be given "
         "several times",
         "",
         [&trace, &injection](const char *text) { return kiv::apply_expression(text, trace, injection).has_value(); },
         [](const char *text) {
             kiv::TraceSettings scratch_trace;
             kiv::InjectionSettings scratch_injection;
             return kiv::apply_expression(text, scratch_trace, scratch_injection).error();
         }},
        {'f', "follow-forks", Takes::Nothing, "",
         "accepted as in strace: the trace always follows every process of the run", "",
         [](const char *) { return true; }},
        {'s', "string-limit", Takes::Value, "N", "show at most N bytes of each text or buffer (default 32)",
         number_hint<uint32_t>("up to 1048576"),
         [&trace](const char *text) {
             Result<uint32_t> limit = parse_number<uint32_t>(text);
             if (!limit || *limit > kMaxStringLimit) return false;
             trace.string_limit = *limit;
             return true;
         }},
        {'c', "summary-only", Takes::Nothing, "",
         "count time, calls and errors of each system call and print a table at exit instead of the trace lines "
         "(each process its own)",
         "", set_flag(trace.summary_only)},
        {0, "trace-format", Takes::Value, "FORMAT",
         "text (the default) or json: one JSON object per call, note and end of run", "text or json",
         [&trace](const char *text) {
             std::string_view format = text;
             if (format != "text" && format != "json") return false;
             trace.format = format == "json" ? kiv::TraceFormat::Json : kiv::TraceFormat::Text;
             return true;
         }},
        {'T', "timeout", Takes::Value, "SECONDS",
         "stop the run (every process) after this much wall-clock time, time spent in the debugger included",
         "a positive number of seconds", store_parsed(run.timeout_seconds, parse_seconds)},
        {0, "max-blocks", Takes::Value, "N", "stop a process after N executed basic blocks",
         number_hint<uint64_t>("above 0"),
         [&run](const char *text) {
             Result<uint64_t> blocks = parse_number<uint64_t>(text);
             if (!blocks || *blocks == 0) return false;
             run.block_limit = *blocks;
             return true;
         }},
        {0, "max-memory", Takes::Value, "MIB",
         "guest memory the whole run may hold at once, in MiB, all its processes together: each program's "
         "segments and stack, and every mmap'd range (default " +
             std::to_string(kiv::kDefaultRunMemory >> kMebibyteShift) +
             "); past it an mmap answers -1 (ENOMEM), and so does a spawn whose program does not fit",
         number_hint<uint32_t>("above 0"),
         [&options](const char *text) {
             Result<uint32_t> mebibytes = parse_number<uint32_t>(text);
             if (!mebibytes || *mebibytes == 0) return false;
             options.memory_limit = uint64_t{*mebibytes} << kMebibyteShift;
             return true;
         }},
        {'g', "gdb", Takes::Value, "PORT",
         "before the program's first instruction, wait for one gdb connection on 127.0.0.1:PORT (0: any free "
         "port; the port is shown on standard error) and let gdb drive the run ('target remote "
         "127.0.0.1:PORT'); after detach the program runs on to its own status, after kill it ends with 137 "
         "(or its fault's status when stopped at a fault), and a lost connection ends the run (status 125); "
         "with --replay gdb can also run the program backwards (docs/reverse.md)",
         number_hint<uint16_t>(), store_parsed(options.gdb_port, parse_number<uint16_t>)},
        {0, "coverage", Takes::Value, "FILE",
         "count what the program runs and add it to FILE at the end of the run, however it ends (every spawned "
         "process adds its own): an lcov tracefile of the lines and functions of its debug information; FILE is a "
         "regular file or new, a link is followed",
         "a file name",
         [&run](const char *path) {
             std::error_code error;
             run.coverage.path = std::filesystem::absolute(path, error).string();
             return *path != '\0' && !error;
         }},
        {0, "coverage-format", Takes::Value, "FORMAT",
         "lcov (the default) or drcov: a drcov version 2 log of the blocks that ran", "lcov or drcov",
         [&settings](const char *text) {
             settings.coverage_format_given = true;
             Result<kiv::CoverageFormat> format = kiv::parse_coverage_format(text);
             if (format) settings.run.settings.coverage.format = *format;
             return format.has_value();
         }},
        {0, "no-sleep", Takes::Nothing, "", "make usleep and sleep return at once", "", set_flag(run.skip_sleeps)},
        {0, "tsc", Takes::Value, "START[:STEP]",
         "the time-stamp counter reads START first, then STEP more at every read (default STEP 1); " + tsc_parts +
             "; a program with more than " + std::to_string(kiv::kMaxRdtscSites) + " places spelling rdtsc is refused",
         "START or START:STEP, " + tsc_parts, store_parsed(run.tsc, kiv::parse_tsc_sequence)},
        {0, "record", Takes::Value, "DIR",
         "record the run in the directory DIR (made if missing): the program's identity and arguments and every "
         "value that reaches it from outside, each process of the run in a file of its own (docs/replay.md)",
         "a directory name",
         [&run](const char *path) { return store_recording(run, path, kiv::RecordingSettings::Mode::Record); }},
        {0, "replay", Takes::Value, "DIR",
         "run the program again from the recording in DIR alone: no host file, pipe, NIC or child is touched, the "
         "console output is made again, and the first difference from the recording stops the run (status 123)",
         "a directory name",
         [&run](const char *path) { return store_recording(run, path, kiv::RecordingSettings::Mode::Replay); }},
        {0, "nic", Takes::Value, "SOURCE",
         "what the NIC query reports: sim (a simulated e1000, the default), host (the host's first e1000 "
         "controller, read from sysfs at each query: PCI address, BAR0 as MMIO base, MAC and carrier of its "
         "network interface; the query fails when there is none or its BAR0 lies above 4 GiB) or absent (the "
         "query fails)",
         "sim, host or absent", [&nic](const char *text) { return kiv::parse_nic_source(text, nic.source); }},
        {0, "sysfs-root", Takes::Value, "DIR", "where --nic host reads sysfs (default /sys)", "",
         store_text(nic.sysfs_root)},
        {0, "nic-pci", Takes::Value, "BB:DD.F", "simulated PCI address, hex bus and device (default 00:03.0)",
         "BB:DD.F in hex, device up to 1f, function up to 7",
         [&nic](const char *text) {
             Result<kiv::PciAddress> address = kiv::parse_pci_address(text);
             if (address) kiv::set_pci_address(nic.simulated, *address);
             return address.has_value();
         }},
        {0, "nic-mmio", Takes::Value, "ADDRESS", "simulated MMIO base (default 0xfebc0000)", u32,
         store_number(nic.simulated.mmio_base)},
        {0, "nic-mac", Takes::Value, "MAC", "simulated MAC address (default 52:54:00:12:34:56)",
         "six hex octets joined by ':'",
         [&nic](const char *text) {
             Result<kiv::MacAddress> mac = kiv::parse_mac_address(text);
             if (mac) kiv::set_mac_address(nic.simulated, *mac);
             return mac.has_value();
         }},
        {0, "nic-link", Takes::Value, "N", "simulated link word, 0 = down (default 1)", u32,
         store_number(nic.simulated.link)},
    };
}

constexpr const char *kName = "kivrun";

// "kivrun 1.0 (Unicorn 2.1.1)": the emulator decides much of what a
// program meets.
const char *version_text() {
    static const std::string text = "kivrun 1.0 (" + kiv::emulator_version() + ")";
    return text.c_str();
}

kiv::cli::Command kivrun_command(Settings &settings) {
    return {kName,
            "[OPTION]... PROGRAM [ARG]...",
            kDescription,
            kFooter,
            version_text(),
            kiv::kExitHostError,
            kiv::cli::Operands::EndOptions,
            option_table(settings)};
}

void stop(kiv::CommandLine &line, int status, std::string message) {
    line.exit_status = status;
    line.message = std::move(message);
}

// Emptied once, then appended to: every process of the run writes its
// lines at the end, whole. Opened without blocking, so that a fifo nobody
// reads is refused (ENXIO) rather than waited on, and writes to one whose
// reader stalls wait no longer than the run's time limit.
FILE *open_trace_file(const std::string &path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
    FILE *file = fd >= 0 ? fdopen(fd, "a") : nullptr;
    if (file == nullptr && fd >= 0) close(fd);
    return file;
}

// The variable's options, applied before the command line's; false, with
// `line` stopped, when they do not read. They name no program.
bool read_environment_options(const kiv::cli::Command &command, const char *text, kiv::CommandLine &line) {
    if (text == nullptr) return true;
    const std::string origin = kiv::kOptionsVariable;
    Result<std::vector<std::string>> words = kiv::cli::split_words(text);
    if (!words) {
        stop(line, kiv::kExitHostError, kiv::cli::usage_text(kName, origin + ": " + words.error()));
        return false;
    }
    std::vector<char *> argv{const_cast<char *>(kName)};
    for (std::string &word : *words) argv.push_back(word.data());
    kiv::cli::Reading reading = kiv::cli::read(command, static_cast<int>(argv.size()), argv.data(), origin);
    if (reading.stopped) {
        stop(line, reading.status, std::move(reading.text));
    } else if (!reading.operands.empty()) {
        stop(line, kiv::kExitHostError,
             kiv::cli::usage_text(kName, origin + ": '" + kiv::cli::shown(reading.operands[0]) +
                                             "' is not an option (the program is named on the command line)"));
    }
    return !line.exit_status;
}

}  // namespace

namespace kiv {

CommandLine read_command_line(int argc, char **argv, const char *environment_options) {
    Settings settings;
    const cli::Command command = kivrun_command(settings);
    CommandLine line;
    if (!read_environment_options(command, environment_options, line)) return line;
    cli::Reading reading = cli::read(command, argc, argv);
    if (reading.stopped) {
        stop(line, reading.status, std::move(reading.text));
    } else if (reading.operands.empty()) {
        stop(line, kExitHostError, cli::usage_text(kName, "no program given"));
    } else if (settings.coverage_format_given && !settings.run.settings.coverage.enabled()) {
        stop(line, kExitHostError, cli::usage_text(kName, "--coverage-format needs --coverage"));
    }
    line.run = std::move(settings.run);
    line.trace_path = std::move(settings.trace_path);
    line.program = std::move(reading.operands);
    return line;
}

void prepare_outputs(CommandLine &line) {
    // A coverage file that cannot be written is refused before the program
    // runs; a link is followed to the file it names.
    CoverageSettings &coverage = line.run.settings.coverage;
    if (coverage.enabled()) {
        Result<std::string> own_path = prepare_coverage_file(coverage.path);
        if (!own_path)
            return stop(line, kExitHostError,
                        cli::usage_text(kName, "cannot write the coverage to '" + cli::shown(coverage.path) +
                                                   "': " + own_path.error()));
        coverage.path = std::move(*own_path);
    }
    const TraceSettings &trace_settings = line.run.settings.trace_settings;
    if (!trace_settings.enabled && !trace_settings.summary_only) return;
    line.run.trace = line.trace_path ? open_trace_file(*line.trace_path) : stderr;
    if (line.run.trace != nullptr) return;
    stop(line, kExitHostError,
         cli::usage_text(kName,
                         "cannot write the trace to '" + cli::shown(*line.trace_path) + "': " + std::strerror(errno)));
}

}  // namespace kiv
