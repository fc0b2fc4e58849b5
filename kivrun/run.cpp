#include "run.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "cpu.h"
#include "debug_target.h"
#include "elf_image.h"
#include "guest_memory.h"
#include "kernel.h"
#include "process.h"
#include "sandbox.h"
#include "trace.h"
#include "watchdog.h"

namespace kiv {

namespace {

// Larger files cannot be kivos executables worth loading.
constexpr off_t kMaxExecutableSize = 256 << 20;
// Room the argument texts and vector may take on the initial stack.
constexpr uint32_t kMaxArgumentBytes = 1u << 20;
constexpr uint32_t kStackAlignment = 16;

RunResult failure(RunResult::Outcome outcome, int exit_code, std::string message) {
    return {outcome, 0, exit_code, "kivrun: " + std::move(message)};
}

std::string hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// Reads the whole file; an empty optional with `error` set on failure.
std::optional<std::vector<uint8_t>> read_file(const std::string &path, std::string &error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    std::unique_ptr<int, void (*)(int *)> closer(&fd, [](int *f) { ::close(*f); });
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "not a regular file";
        return std::nullopt;
    }
    if (info.st_size > kMaxExecutableSize) {
        error = "file too large for an executable";
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            error = got < 0 ? std::strerror(errno) : "file shrank while being read";
            return std::nullopt;
        }
        done += static_cast<size_t>(got);
    }
    return bytes;
}

bool load_segments(GuestMemory &memory, const ExecutableImage &image, std::span<const uint8_t> file) {
    for (const auto &segment : image.segments) {
        uint32_t start = page_floor(segment.address);
        uint64_t end = page_ceil(uint64_t{segment.address} + segment.memory_size);
        if (!memory.map(start, static_cast<uint32_t>(end - start), segment.protection)) return false;
        if (!memory.poke(segment.address, file.data() + segment.file_offset, segment.file_size)) return false;
    }
    return true;
}

// Builds the initial stack: the argument count at the stack pointer, the
// argument pointers after it, a null pointer after them, and the texts
// above. Returns the stack pointer, or nullopt when the arguments do not fit.
std::optional<uint32_t> build_stack(GuestMemory &memory, const std::vector<std::string> &argv) {
    uint64_t text_bytes = 0;
    for (const auto &argument : argv) text_bytes += argument.size() + 1;
    uint64_t vector_bytes = (argv.size() + 2) * sizeof(uint32_t);
    if (text_bytes + vector_bytes + kStackAlignment > kMaxArgumentBytes) return std::nullopt;
    if (!memory.map(kStackBottom, kStackSize, kAccessRead | kAccessWrite)) return std::nullopt;

    uint32_t cursor = kStackTop;
    std::vector<uint32_t> words{static_cast<uint32_t>(argv.size())};
    std::vector<uint32_t> pointers;
    for (const auto &argument : argv) {
        cursor -= static_cast<uint32_t>(argument.size() + 1);
        memory.poke(cursor, argument.c_str(), static_cast<uint32_t>(argument.size() + 1));
        pointers.push_back(cursor);
    }
    words.insert(words.end(), pointers.begin(), pointers.end());
    words.push_back(0);
    uint32_t stack = (cursor - static_cast<uint32_t>(words.size() * sizeof(uint32_t))) & ~(kStackAlignment - 1);
    memory.poke(stack, words.data(), static_cast<uint32_t>(words.size() * sizeof(uint32_t)));
    return stack;
}

RunResult outcome_of(const Stop &stop, const std::string &program, const RunOptions &options) {
    switch (stop.reason) {
    case StopReason::Exited:
        return {RunResult::Outcome::Exited, stop.status, stop.status & 0xff, ""};
    case StopReason::Faulted: {
        const Fault &fault = *stop.fault;
        std::string message = program + ": " + fault.what + " at eip " + hex(fault.eip);
        if (fault.address) message += ", address " + hex(*fault.address);
        return failure(RunResult::Outcome::Faulted, fault.exit_code, message);
    }
    case StopReason::TimedOut: {
        char seconds[32];
        snprintf(seconds, sizeof seconds, "%g", options.timeout_seconds.value_or(0));
        return failure(RunResult::Outcome::Stopped, kExitStopped,
                       program + ": stopped after the time limit of " + seconds + " s (--timeout)");
    }
    case StopReason::BlockLimit:
        return failure(RunResult::Outcome::Stopped, kExitStopped,
                       program + ": stopped after " + std::to_string(options.block_limit) +
                           " executed blocks (--max-blocks)");
    case StopReason::EmulatorError:
        return failure(RunResult::Outcome::HostError, kExitHostError, program + ": " + stop.detail);
    }
    return failure(RunResult::Outcome::HostError, kExitHostError, program + ": unknown stop");
}

}  // namespace

RunResult run_program(const std::string &program, const std::vector<std::string> &argv, const RunOptions &options) {
    std::string error;
    auto file = read_file(program, error);
    if (!file) return failure(RunResult::Outcome::NotFound, kExitNotFound, "cannot open " + program + ": " + error);
    ImageError image_error;
    auto image = parse_executable(*file, image_error);
    if (!image)
        return failure(RunResult::Outcome::NotLoadable, kExitNotLoadable,
                       "cannot run " + program + ": " + image_error.message);

    Sandbox sandbox;
    if (!sandbox.open_root(options.root, error)) return failure(RunResult::Outcome::HostError, kExitHostError, error);

    Cpu cpu;
    if (cpu.engine() == nullptr)
        return failure(RunResult::Outcome::HostError, kExitHostError, "cannot start the CPU emulator");
    GuestMemory memory(cpu.engine());
    if (!load_segments(memory, *image, *file))
        return failure(RunResult::Outcome::NotLoadable, kExitNotLoadable,
                       "cannot run " + program + ": its segments cannot be mapped");
    auto stack = build_stack(memory, argv);
    if (!stack)
        return failure(RunResult::Outcome::HostError, kExitHostError,
                       "cannot run " + program + ": the arguments do not fit on the stack");

    int cancel_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (cancel_fd < 0)
        return failure(RunResult::Outcome::HostError, kExitHostError, std::string("eventfd: ") + std::strerror(errno));
    std::unique_ptr<int, void (*)(int *)> cancel_closer(&cancel_fd, [](int *f) { ::close(*f); });

    Process process(cpu, memory, sandbox, options.nic, options.console_in, options.console_out,
                    options.console_err, cancel_fd);
    process.skip_sleeps = options.skip_sleeps;
    std::optional<Trace> trace;
    if (options.trace != nullptr) trace.emplace(options.trace);
    Kernel kernel(process, trace ? &*trace : nullptr);
    cpu.set_block_limit(options.block_limit);
    if (options.tsc) cpu.set_time_stamps(*options.tsc);

    Stop stop;
    {
        std::optional<Watchdog> watchdog;
        if (options.timeout_seconds)
            watchdog.emplace(std::chrono::duration<double>(*options.timeout_seconds), [&cpu, cancel_fd] {
                cpu.stop_for_timeout();
                uint64_t one = 1;
                (void)!::write(cancel_fd, &one, sizeof one);
            });
        stop = options.gdb_port
                   ? run_with_gdb(cpu, memory, kernel, image->entry, *stack, *options.gdb_port, cancel_fd)
                   : cpu.run(memory, kernel, image->entry, *stack);
    }
    if (trace && stop.reason == StopReason::Faulted)
        trace->note("fault: " + stop.fault->what + "; " + cpu.register_dump());
    return outcome_of(stop, program, options);
}

}  // namespace kiv
