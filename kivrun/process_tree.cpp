#include "process_tree.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "loader.h"
#include "process.h"
#include "run.h"
#include "spawn_record.h"
#include "trace.h"
#include "unique_fd.h"

extern char **environ;

namespace kiv {

namespace {

// The hidden argument that makes kivrun a spawned process; the start
// record's descriptor follows it.
constexpr const char *kSpawnedOption = "--spawned-process-record";
constexpr int kSignalStatusBase = 128;

std::atomic_ref<uint32_t> live_count(SharedRunState *state) { return std::atomic_ref<uint32_t>(state->live); }
std::atomic_ref<uint64_t> memory_held(SharedRunState *state) {
    return std::atomic_ref<uint64_t>(state->memory_held);
}

int pidfd_open(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

void kill_and_reap(pid_t pid, int pidfd) {
    syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
    ::close(pidfd);
}

// What the guest reads as a child's status: what kivrun itself exited
// with, or 128 + the signal that ended it.
int32_t status_word(int host_status) {
    return WIFEXITED(host_status) ? WEXITSTATUS(host_status) : kSignalStatusBase + WTERMSIG(host_status);
}

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

RunOptions options_from(const SpawnRecord &record, FILE *trace, FILE *diagnostics, TraceSettings trace_settings) {
    RunOptions options;
    options.nic = record.nic;
    options.trace = trace;
    options.trace_settings = std::move(trace_settings);
    if (record.diagnostics) options.diagnostics = diagnostics;
    options.timeout_seconds = record.timeout_seconds;
    options.block_limit = record.block_limit;
    options.skip_sleeps = record.skip_sleeps;
    options.tsc = record.tsc;
    options.console_in = options.console_out = options.console_err = -1;
    options.runner = record.runner;
    options.coverage = record.coverage;
    options.inherited = &record.inherited;
    return options;
}

// "kivrun: prog: ..." becomes "kivrun: [pid N] prog: ...".
std::string with_pid(const std::string &message) {
    constexpr std::string_view kPrefix = "kivrun: ";
    if (message.rfind(kPrefix, 0) != 0) return message;
    return std::string(kPrefix) + "[pid " + std::to_string(getpid()) + "] " + message.substr(kPrefix.size());
}

}  // namespace

SharedRun::~SharedRun() {
    if (state_ != nullptr) munmap(state_, sizeof *state_);
    if (fd_ >= 0) ::close(fd_);
}

bool SharedRun::create(uint64_t memory_limit) {
    int fd = memfd_create("kivrun-run", MFD_CLOEXEC);
    if (fd < 0) return false;
    if (ftruncate(fd, sizeof *state_) != 0 || !adopt(fd)) {
        ::close(fd);
        return false;
    }
    if (!state_->trace.init()) {
        munmap(state_, sizeof *state_);
        state_ = nullptr;
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    live_count(state_).store(1);
    state_->memory_limit = memory_limit;
    return true;
}

bool SharedRun::adopt(int fd) {
    void *state = mmap(nullptr, sizeof *state_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (state == MAP_FAILED) return false;
    fd_ = fd;
    state_ = static_cast<SharedRunState *>(state);
    return true;
}

bool SharedRun::reserve() {
    auto count = live_count(state_);
    uint32_t now = count.load();
    do {
        if (now >= kMaxLiveProcesses) return false;
    } while (!count.compare_exchange_weak(now, now + 1));
    return true;
}

void SharedRun::release() { live_count(state_).fetch_sub(1); }

bool SharedRun::take_memory(uint64_t bytes, bool forced) {
    if (state_ == nullptr) return true;
    auto held = memory_held(state_);
    uint64_t now = held.load();
    do {
        if (!forced && (bytes > state_->memory_limit || now > state_->memory_limit - bytes)) return false;
    } while (!held.compare_exchange_weak(now, now + bytes));
    return true;
}

void SharedRun::return_memory(uint64_t bytes) {
    if (state_ != nullptr) memory_held(state_).fetch_sub(bytes);
}

// The shared state exists from the start: the first call's trace line may
// have to wait its turn with a child's.
ProcessTree::ProcessTree(Process &process, const RunOptions &options, std::optional<Deadline> deadline, Trace *trace,
                         uint64_t image_memory)
    : process_(process), options_(options), deadline_(deadline), trace_(trace), memory_held_(image_memory) {
    const Inheritance *inherited = options.inherited;
    if (inherited == nullptr) {
        share_trace(shared_.create(options.memory_limit));
        // The first program always runs: the limit bounds what follows.
        shared_.take_memory(image_memory, true);
        return;
    }
    process.sandbox.adopt(inherited->root_fd, inherited->cwd);
    for (const auto &fd : inherited->fds) process.fds.install(fd.guest, fd.host, fd.console);
    share_trace(shared_.adopt(inherited->shared_run_fd));
    tag_trace();
}

void ProcessTree::share_trace(bool shared) {
    if (shared && trace_ != nullptr) trace_->share(shared_.trace());
}

ProcessTree::~ProcessTree() {
    for (auto &[pid, child] : children_) {
        kill_and_reap(pid, child.pidfd);
        shared_.release();
    }
    shared_.return_memory(memory_held_);
}

bool ProcessTree::take_memory(uint64_t bytes) {
    if (!shared_.take_memory(bytes)) return false;
    memory_held_ += bytes;
    return true;
}

void ProcessTree::return_memory(uint64_t bytes) {
    shared_.return_memory(bytes);
    memory_held_ -= bytes;
}

void ProcessTree::tag_trace() {
    branched_ = true;
    if (trace_ != nullptr) trace_->tag(getpid());
}

std::optional<std::vector<InheritedFd>> ProcessTree::child_descriptors(const std::array<int32_t, 3> &chosen,
                                                                       bool all) const {
    const FdTable &fds = process_.fds;
    std::map<int32_t, InheritedFd> given;
    int32_t shared = all ? fds.capacity() : static_cast<int32_t>(chosen.size());
    for (int32_t fd = 0; fd < shared; fd++)
        if (fds.host(fd) >= 0) given[fd] = {fd, fds.host(fd), fds.find(fd)->console};
    for (int32_t fd = 0; fd < static_cast<int32_t>(chosen.size()); fd++) {
        int32_t source = chosen[fd];
        if (source == -1) continue;
        if (fds.host(source) < 0) return std::nullopt;
        given[fd] = {fd, fds.host(source), fds.find(source)->console};
    }
    std::vector<InheritedFd> list;
    for (auto &[fd, inherited] : given) list.push_back(inherited);
    return list;
}

std::optional<std::vector<uint8_t>> ProcessTree::load_program(const std::string &path, uint64_t &image_memory,
                                                             int &error) {
    // Non-blocking, so that naming a fifo cannot stall the parent.
    UniqueFd fd(process_.sandbox.open(path, O_RDONLY | O_NONBLOCK));
    if (!fd.valid()) {
        error = errno;
        return std::nullopt;
    }
    std::string reason;
    auto bytes = read_executable(fd.get(), reason);
    ImageError image_error;
    std::optional<ExecutableImage> image;
    if (bytes && !(image = parse_executable(*bytes, image_error))) reason = image_error.message;
    if (!reason.empty()) {
        if (trace_ != nullptr) trace_->note("spawn: cannot run " + path + ": " + reason);
        error = ENOEXEC;
        return std::nullopt;
    }
    image_memory = memory_of(*image);
    return bytes;
}

SyscallResult ProcessTree::spawn(const std::string &path, const std::vector<std::string> &argv,
                              const std::vector<InheritedFd> &fds) {
    // Without the state every process shares (the host refused it at the
    // start), a child could be neither counted nor traced in turn.
    if (shared_.fd() < 0) return failure(EAGAIN);
    int error = 0;
    uint64_t image_memory = 0;
    auto image = load_program(path, image_memory, error);
    if (!image) return failure(error);
    if (!shared_.take_memory(image_memory)) return failure(ENOMEM);
    if (!shared_.reserve()) {
        shared_.return_memory(image_memory);
        return failure(EAGAIN);
    }
    // From here on the child holds the image's memory, and gives it back.
    SyscallResult answer = launch(path, std::move(*image), argv, fds);
    if (answer.value < 0) {
        shared_.release();
        shared_.return_memory(image_memory);
    }
    return answer;
}

SyscallResult ProcessTree::launch(const std::string &path, std::vector<uint8_t> image,
                               const std::vector<std::string> &argv, const std::vector<InheritedFd> &fds) {
    SpawnRecord record{
        .parent = getpid(),
        .program = path,
        .image = std::move(image),
        .argv = argv,
        .inherited = {process_.sandbox.root(), process_.sandbox.current_directory(), fds, shared_.fd(), deadline_},
        .trace_fd = options_.trace != nullptr ? fileno(options_.trace) : -1,
        .trace_options = options_.trace_settings.child_options(),
        .diagnostics = options_.diagnostics != nullptr,
        .nic = options_.nic,
        .tsc = options_.tsc,
        .block_limit = options_.block_limit,
        .skip_sleeps = options_.skip_sleeps,
        .timeout_seconds = options_.timeout_seconds,
        .runner = options_.runner,
        .coverage = options_.coverage,
    };
    int record_fd = write_spawn_record(record);
    if (record_fd < 0) return failure(errno);

    // Each descriptor the child needs keeps its number; duplicating a
    // descriptor onto itself clears its close-on-exec flag in the child only.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {record_fd, record.inherited.root_fd, record.inherited.shared_run_fd, record.trace_fd})
        if (fd >= 0) posix_spawn_file_actions_adddup2(&actions, fd, fd);
    for (const auto &inherited : fds) posix_spawn_file_actions_adddup2(&actions, inherited.host, inherited.host);
    std::string record_text = std::to_string(record_fd);
    std::string name = "kivrun";
    std::string option = kSpawnedOption;
    char *words[] = {name.data(), option.data(), record_text.data(), nullptr};
    pid_t pid = 0;
    int error = posix_spawn(&pid, options_.runner.c_str(), &actions, nullptr, words, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(record_fd);
    if (error != 0) return failure(error);

    int pidfd = pidfd_open(pid);
    if (pidfd < 0) {
        error = errno;
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
        return failure(error);
    }
    children_[pid] = Child{pidfd};
    tag_trace();
    return success(pid);
}

std::optional<int32_t> ProcessTree::reap(pid_t pid) {
    int host_status = 0;
    pid_t done;
    do {
        done = waitpid(pid, &host_status, WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done != pid) return std::nullopt;
    ::close(children_[pid].pidfd);
    children_.erase(pid);
    shared_.release();
    return status_word(host_status);
}

SyscallResult ProcessTree::wait(int32_t pid, bool no_hang, int32_t &status) {
    std::vector<pid_t> candidates;
    for (auto &[child, unused] : children_)
        if (pid == -1 || pid == child) candidates.push_back(child);
    if (candidates.empty()) return failure(ECHILD);
    std::vector<pollfd> watched;
    for (pid_t child : candidates) watched.push_back({children_[child].pidfd, POLLIN, 0});
    watched.push_back({process_.cancel_fd, POLLIN, 0});
    for (;;) {
        for (pid_t child : candidates) {
            if (auto word = reap(child)) {
                status = *word;
                return success(child);
            }
        }
        if (no_hang) return success(0);
        int ready = poll(watched.data(), watched.size(), -1);
        if (ready < 0 && errno != EINTR) return failure(errno);
        if (watched.back().revents != 0) return failure(EINTR);
    }
}

std::optional<int> run_if_spawned(int argc, char **argv) {
    if (argc != 3 || std::strcmp(argv[1], kSpawnedOption) != 0) return std::nullopt;
    // Nothing outlives the tree: a parent that dies takes this process along.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int record_fd = atoi(argv[2]);
    auto record = read_spawn_record(record_fd);
    ::close(record_fd);
    auto trace_settings = record ? TraceSettings::from_options(record->trace_options) : std::nullopt;
    if (!trace_settings) {
        fprintf(stderr, "%s\n", with_pid("kivrun: unreadable start record of a spawned process").c_str());
        return kExitHostError;
    }
    // The parent may have died before the death signal was armed.
    if (getppid() != record->parent) return kExitStopped;
    keep_from_children(*record);
    FILE *diagnostics = private_stream(STDERR_FILENO);
    if (diagnostics == nullptr) diagnostics = stderr;
    FILE *trace = record->trace_fd >= 0 ? private_stream(record->trace_fd) : nullptr;
    RunResult result = run_image(record->program, record->image, record->argv,
                                 options_from(*record, trace, diagnostics, std::move(*trace_settings)));
    if (trace != nullptr) fclose(trace);
    if (!result.message.empty()) fprintf(diagnostics, "%s\n", with_pid(result.message).c_str());
    return result.exit_code;
}

}  // namespace kiv
