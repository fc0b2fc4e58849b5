#include "run/children.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>

#include "dispatch/trace.h"
#include "machine/cpu.h"
#include "machine/loader.h"
#include "machine/syscall_types.h"
#include "os/process.h"
#include "run/run_options.h"
#include "support/unique_fd.h"

extern char **environ;

namespace kiv {

namespace {

std::atomic_ref<uint32_t> live_count(SharedRunState *state) { return std::atomic_ref<uint32_t>(state->live); }
std::atomic_ref<uint64_t> memory_held(SharedRunState *state) { return std::atomic_ref<uint64_t>(state->memory_held); }

int pidfd_open(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

// How long children asked to stop get to add their coverage counts and end
// before they are killed.
constexpr std::chrono::seconds kStopGrace{5};

// Waits until the child's process ends or `until` passes.
void wait_for_end(int pidfd, std::chrono::steady_clock::time_point until) {
    pollfd ended{pidfd, POLLIN, 0};
    int ready;
    do {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
        ready = poll(&ended, 1, static_cast<int>(std::max<decltype(left)>(left, 0)));
    } while (ready < 0 && errno == EINTR);
}

void kill_and_reap(pid_t pid, int pidfd) {
    syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    ::close(pidfd);
}

// What the guest reads as a child's status: what kivrun itself exited
// with, or 128 + the signal that ended it.
int32_t status_word(int host_status) {
    return WIFEXITED(host_status) ? WEXITSTATUS(host_status) : kSignalStatusBase + WTERMSIG(host_status);
}

}  // namespace

uint64_t process_memory(const ExecutableImage &image, const RunSettings &settings) {
    return memory_of(image) + kTranslationCacheBytes + (settings.coverage.enabled() ? coverage_memory(image) : 0);
}

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
HostChildren::HostChildren(Process &process, const RunOptions &options, std::optional<Deadline> deadline, Trace *trace,
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

void HostChildren::share_trace(bool shared) {
    if (shared && trace_ != nullptr) trace_->share(shared_.trace());
}

// Children still running are asked to stop, as at the time limit (which
// they may have reached with this process): each then adds its coverage
// counts and ends. One that has not ended by the grace is killed.
HostChildren::~HostChildren() {
    for (auto &[pid, child] : children_) syscall(SYS_pidfd_send_signal, child.pidfd, SIGTERM, nullptr, 0);
    auto grace_end = std::chrono::steady_clock::now() + kStopGrace;
    for (auto &[pid, child] : children_) {
        wait_for_end(child.pidfd, grace_end);
        kill_and_reap(pid, child.pidfd);
        shared_.release();
    }
    shared_.return_memory(memory_held_);
}

bool HostChildren::take_memory(uint64_t bytes) {
    if (!shared_.take_memory(bytes)) return false;
    memory_held_ += bytes;
    return true;
}

void HostChildren::return_memory(uint64_t bytes) {
    shared_.return_memory(bytes);
    memory_held_ -= bytes;
}

void HostChildren::tag_trace() {
    if (trace_ != nullptr) trace_->tag(trace_->pid());
}

std::optional<std::vector<uint8_t>> HostChildren::load_program(const std::string &path, uint64_t &image_memory,
                                                               int &error) {
    // Non-blocking, so that naming a fifo cannot stall the parent.
    UniqueFd fd(process_.sandbox.open(path, O_RDONLY | O_NONBLOCK));
    if (!fd.valid()) {
        error = errno;
        return std::nullopt;
    }
    Result<std::vector<uint8_t>> bytes = read_executable(fd.get());
    Result<ExecutableImage> image = bytes ? parse_executable(*bytes) : Failure{bytes.error()};
    if (!image) {
        if (trace_ != nullptr) trace_->note("spawn: cannot run " + path + ": " + image.error());
        error = ENOEXEC;
        return std::nullopt;
    }
    image_memory = process_memory(*image, options_.settings);
    return std::move(*bytes);
}

SyscallResult HostChildren::spawn(const std::string &path, const std::vector<std::string> &argv,
                                  const std::vector<InheritedFd> &fds) {
    // Without the state every process shares (the host refused it at the
    // start), a child could be neither counted nor traced in turn.
    if (shared_.fd() < 0) return failure(EAGAIN);
    int error = 0;
    uint64_t image_memory = 0;
    auto image = load_program(path, image_memory, error);
    if (!image) return failure(error);
    return start(path, std::move(*image), image_memory, argv, fds, child_recording(options_.settings.recording));
}

SyscallResult HostChildren::replay(const std::string &path, std::vector<uint8_t> image,
                                   const std::vector<std::string> &argv, const RecordingSettings &recording) {
    if (shared_.fd() < 0) return failure(EAGAIN);
    Result<ExecutableImage> parsed = parse_executable(image);
    if (!parsed) return failure(ENOEXEC);
    // A replay touches only the console.
    std::vector<InheritedFd> consoles;
    for (int32_t guest = 0; guest <= STDERR_FILENO; guest++)
        if (const FdTable::Descriptor *descriptor = process_.fds.find(guest);
            descriptor != nullptr && descriptor->console)
            consoles.push_back({guest, descriptor->host_fd, true});
    uint64_t image_memory = process_memory(*parsed, options_.settings);
    return start(path, std::move(image), image_memory, argv, consoles, recording);
}

SyscallResult HostChildren::start(const std::string &path, std::vector<uint8_t> image, uint64_t image_memory,
                                  const std::vector<std::string> &argv, const std::vector<InheritedFd> &fds,
                                  const RecordingSettings &recording) {
    if (!shared_.take_memory(image_memory)) return failure(ENOMEM);
    if (!shared_.reserve()) {
        shared_.return_memory(image_memory);
        return failure(EAGAIN);
    }
    // From here on the child holds the image's memory, and gives it back.
    SyscallResult answer = launch(path, std::move(image), argv, fds, recording);
    if (answer.value < 0) {
        shared_.release();
        shared_.return_memory(image_memory);
    }
    return answer;
}

SyscallResult HostChildren::launch(const std::string &path, std::vector<uint8_t> image,
                                   const std::vector<std::string> &argv, const std::vector<InheritedFd> &fds,
                                   const RecordingSettings &recording) {
    SpawnRecord record{
        .parent = getpid(),
        .program = path,
        .image = std::move(image),
        .argv = argv,
        .inherited = {process_.sandbox.root(), process_.sandbox.current_directory(), fds, shared_.fd(), deadline_},
        .trace_fd = options_.trace != nullptr ? fileno(options_.trace) : -1,
        .diagnostics = options_.diagnostics != nullptr,
        .settings = options_.settings,
    };
    record.settings.recording = recording;
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
    int error = posix_spawn(&pid, options_.settings.runner.c_str(), &actions, nullptr, words, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(record_fd);
    if (error != 0) return failure(error);

    int pidfd = pidfd_open(pid);
    if (pidfd < 0) {
        error = errno;
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return failure(error);
    }
    children_[pid] = Child{pidfd};
    tag_trace();
    return success(pid);
}

std::optional<int32_t> HostChildren::reap(pid_t pid) {
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

SyscallResult HostChildren::wait(int32_t pid, bool no_hang, int32_t &status) {
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

}  // namespace kiv
