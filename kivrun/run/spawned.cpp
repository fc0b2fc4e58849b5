#include "run/spawned.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "run/run.h"
#include "run/spawn_record.h"
#include "support/number.h"
#include "support/text.h"

namespace kiv {

namespace {

// Descriptors a spawned kivrun inherits are its own from then on: none of
// them may reach its children unless it hands them on itself.
void keep_from_children(const SpawnRecord &record) {
    for (int fd : {record.inherited.root_fd, record.inherited.shared_run_fd, record.trace_fd})
        if (fd >= 0) fcntl(fd, F_SETFD, FD_CLOEXEC);
    for (const auto &inherited : record.inherited.fds) fcntl(inherited.host, F_SETFD, FD_CLOEXEC);
}

// A stream on a copy of `fd` that is kivrun's alone: the program may close
// any descriptor number it was handed, and the trace's own stream is closed
// at the end, but kivrun's reports still get out.
FILE *private_stream(int fd) {
    int copy = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    FILE *stream = copy >= 0 ? fdopen(copy, "w") : nullptr;
    if (stream == nullptr && copy >= 0) ::close(copy);
    // A report is one write, made at once.
    if (stream != nullptr) setvbuf(stream, nullptr, _IOLBF, 0);
    return stream;
}

// Readable once the process is asked to stop; the handler only writes to it.
int g_stop_fd = -1;
volatile sig_atomic_t g_stop_requested = 0;

void on_stop_request(int) {
    g_stop_requested = 1;
    int saved = errno;
    uint64_t one = 1;
    (void)!::write(g_stop_fd, &one, sizeof one);
    errno = saved;
}

// The parent asks with SIGTERM when it ends, and so does the host when the
// parent dies: the process stops as at the time limit and still adds its
// coverage counts, instead of being killed with them. -1 when the host
// refused the descriptor (the signal then ends the process, counts lost).
int catch_stop_requests() {
    g_stop_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (g_stop_fd < 0) return -1;
    struct sigaction action {};
    action.sa_handler = on_stop_request;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    return g_stop_fd;
}

RunOptions options_from(const SpawnRecord &record, FILE *trace, FILE *diagnostics) {
    RunOptions options;
    options.settings = record.settings;
    options.trace = trace;
    if (record.diagnostics) options.diagnostics = diagnostics;
    options.console_in = options.console_out = options.console_err = -1;
    options.inherited = &record.inherited;
    options.stop_fd = g_stop_fd;
    return options;
}

// The start record's descriptor as the parent wrote it: a decimal number.
Result<int> record_descriptor(const char *text) {
    std::optional<uint32_t> fd = decimal_number<uint32_t>(text);
    if (!fd || *fd > static_cast<uint32_t>(INT_MAX))
        return Failure{std::string("kivrun: no descriptor after ") + kSpawnedOption + ": '" +
                       c_escaped(std::span(reinterpret_cast<const uint8_t *>(text), std::strlen(text))) + "'"};
    return static_cast<int>(*fd);
}

// "kivrun: prog: ..." becomes "kivrun: [pid N] prog: ...", N as the trace
// shows it (a replay's is the recorded process's).
std::string with_pid(const std::string &message, const std::string &pid) {
    constexpr std::string_view kPrefix = "kivrun: ";
    if (message.rfind(kPrefix, 0) != 0) return message;
    return std::string(kPrefix) + "[pid " + pid + "] " + message.substr(kPrefix.size());
}

std::string shown_pid(const SpawnRecord &record) {
    const RecordingSettings &recording = record.settings.recording;
    return recording.mode == RecordingSettings::Mode::Replay ? recording.name : std::to_string(getpid());
}

}  // namespace

std::optional<int> run_if_spawned(int argc, char **argv) {
    if (argc != 3 || std::strcmp(argv[1], kSpawnedOption) != 0) return std::nullopt;
    // Nothing outlives the tree: a parent that dies stops this process.
    int stop_fd = catch_stop_requests();
    prctl(PR_SET_PDEATHSIG, stop_fd >= 0 ? SIGTERM : SIGKILL);
    Result<int> record_fd = record_descriptor(argv[2]);
    if (!record_fd) {
        fprintf(stderr, "%s\n", with_pid(record_fd.error(), std::to_string(getpid())).c_str());
        return kExitHostError;
    }
    Result<SpawnRecord> record = read_spawn_record(*record_fd);
    ::close(*record_fd);
    if (!record) {
        std::string message = "kivrun: unreadable start record of a spawned process";
        fprintf(stderr, "%s\n", with_pid(message, std::to_string(getpid())).c_str());
        return kExitHostError;
    }
    // The parent may have died before the death signal was armed.
    if (getppid() != record->parent) return kExitStopped;
    keep_from_children(*record);
    FILE *diagnostics = private_stream(STDERR_FILENO);
    if (diagnostics == nullptr) diagnostics = stderr;
    FILE *trace = record->trace_fd >= 0 ? private_stream(record->trace_fd) : nullptr;
    RunResult result = run_image(record->program, record->image, record->argv,
                                 options_from(*record, trace, diagnostics));
    if (trace != nullptr) fclose(trace);
    // Stopped before the run's deadline: by the parent's end, not by the limit.
    bool before_deadline = !record->inherited.deadline ||
                           std::chrono::steady_clock::now() < *record->inherited.deadline;
    if (g_stop_requested != 0 && before_deadline && result.outcome == RunResult::Outcome::Stopped)
        result.message = "kivrun: " + record->program + ": stopped as its parent ended";
    if (!result.message.empty()) fprintf(diagnostics, "%s\n", with_pid(result.message, shown_pid(*record)).c_str());
    return result.exit_code;
}

}  // namespace kiv
