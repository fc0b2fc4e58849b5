// Whole processes against qemu-i386 on the same work: kivrun running a kivos
// program, and qemu-i386 running its Linux i386 twin (bench/guest), from exec
// to exit. Where the host runs i386 programs itself, the twin also runs
// natively: the floor of every ratio. The sides run in turn, round after
// round, so a busy machine slows all alike; the figures are each side's
// median time and the medians of the per-round ratios of wall time and of
// CPU time (user and system, all threads; less disturbed by other load).
// Before timing, every side must exit with 0 and print the same bytes.
// Usage: kivrun_vs_qemu [WORD]: only the comparisons whose description holds
// WORD (for example "heap").
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

extern char **environ;

namespace {

using Argv = std::vector<std::string>;

struct Comparison {
    const char *work;
    Argv kivrun;
    Argv twin;  // the Linux i386 program, without the runner
    int rounds;
};

const std::string kGuestDir = KIV_GUEST_DIR;
const std::string kQemu = "qemu-i386";

enum Side { kKivrun, kQemuSide, kNative, kSides };
constexpr const char *kSideNames[kSides] = {"kivrun", "qemu-i386", "native"};

struct Times {
    double wall;
    double cpu;
};

double seconds(const timeval &time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

// The process's times from spawn to exit, or nothing unless it ran and
// exited with 0.
std::optional<Times> run(const Argv &args, int out_fd) {
    std::vector<char *> argv;
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    auto start = std::chrono::steady_clock::now();
    pid_t child;
    int status = -1;
    rusage usage{};
    bool ran = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
               wait4(child, &status, 0, &usage) == child;
    std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    posix_spawn_file_actions_destroy(&actions);
    if (!ran || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return Times{wall.count(), seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

// What the process prints, or nothing unless it exited with 0.
std::optional<std::string> output_of(const Argv &args) {
    int fd = memfd_create("output", MFD_CLOEXEC);
    std::optional<std::string> output;
    if (fd >= 0 && run(args, fd)) {
        output.emplace();
        char buffer[4096];
        ssize_t got;
        for (off_t at = 0; (got = pread(fd, buffer, sizeof buffer, at)) > 0; at += got)
            output->append(buffer, static_cast<size_t>(got));
    }
    if (fd >= 0) close(fd);
    return output;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

Argv side_argv(const Comparison &comparison, Side side) {
    if (side == kKivrun) return comparison.kivrun;
    Argv argv = comparison.twin;
    if (side == kQemuSide) argv.insert(argv.begin(), kQemu);
    return argv;
}

bool same_work(const Comparison &comparison, size_t sides) {
    std::optional<std::string> expected = output_of(side_argv(comparison, kKivrun));
    for (size_t side = 0; side < sides && expected; side++) {
        std::optional<std::string> output = output_of(side_argv(comparison, static_cast<Side>(side)));
        if (!output) {
            std::fprintf(stderr, "%s: the %s run failed%s\n", comparison.work, kSideNames[side],
                         side == kQemuSide ? " (is qemu-i386 installed? Debian package qemu-user)" : "");
            return false;
        }
        if (*output != *expected) {
            std::fprintf(stderr, "%s: kivrun and %s print different output\n", comparison.work, kSideNames[side]);
            return false;
        }
    }
    return expected.has_value();
}

// Each side's median time and the medians of kivrun's per-round ratios to
// the others.
class RoundTimes {
public:
    void add(const std::array<double, kSides> &times, size_t sides) {
        for (size_t side = 0; side < sides; side++) {
            times_[side].push_back(times[side]);
            ratios_[side].push_back(times[kKivrun] / times[side]);
        }
    }
    double ratio(Side side) const { return median(ratios_[side]); }
    void print(const char *what, size_t sides) const {
        std::printf("  %-4s", what);
        for (size_t side = 0; side < sides; side++)
            std::printf("  %s %8.2f ms", kSideNames[side], median(times_[side]) * 1e3);
        for (size_t side = kQemuSide; side < sides; side++)
            std::printf("  kivrun/%s %5.2f", kSideNames[side], ratio(static_cast<Side>(side)));
        std::printf("\n");
    }

private:
    std::array<std::vector<double>, kSides> times_, ratios_;
};

struct Ratios {
    double wall;
    double cpu;
};

// kivrun's wall and CPU time over qemu-i386's, once printed.
std::optional<Ratios> compare(const Comparison &comparison, size_t sides, int null_fd) {
    if (!same_work(comparison, sides)) return std::nullopt;
    RoundTimes wall, cpu;
    for (int round = 0; round < comparison.rounds; round++) {
        std::array<double, kSides> walls{}, cpus{};
        for (size_t side = 0; side < sides; side++) {
            std::optional<Times> times = run(side_argv(comparison, static_cast<Side>(side)), null_fd);
            if (!times) {
                std::fprintf(stderr, "%s: a %s run failed during timing\n", comparison.work, kSideNames[side]);
                return std::nullopt;
            }
            walls[side] = times->wall;
            cpus[side] = times->cpu;
        }
        wall.add(walls, sides);
        cpu.add(cpus, sides);
    }
    std::printf("%s, %d rounds\n", comparison.work, comparison.rounds);
    wall.print("wall", sides);
    cpu.print("cpu", sides);
    return Ratios{wall.ratio(kQemuSide), cpu.ratio(kQemuSide)};
}

// Whether this host runs i386 programs itself (its kernel may lack 32-bit
// support): the twin of the report must run and exit with 0.
bool host_runs_i386(const Argv &twin, int null_fd) { return run(twin, null_fd).has_value(); }

Comparison compute(const char *work, const char *name, int rounds) {
    return {work,
            {KIVRUN_PATH, kGuestDir + "/bench/bench_compute", name},
            {kGuestDir + "/bench/linux_compute", name},
            rounds};
}

// The kivos program with one of the kit's heaps; its twin uses glibc's malloc.
Comparison heap(const char *work, const std::string &kit_heap, const char *name, int rounds) {
    return {work,
            {KIVRUN_PATH, kGuestDir + "/bench/bench_heap_" + kit_heap, name},
            {kGuestDir + "/bench/linux_heap_glibc", name},
            rounds};
}

// Only the comparisons whose description holds the word, when one is given.
bool chosen(const Comparison &comparison, const char *word) {
    return word == nullptr || std::string(comparison.work).find(word) != std::string::npos;
}

}  // namespace

int main(int argc, char **argv) {
    const char *word = argc > 1 ? argv[1] : nullptr;
    const Comparison start_up[] = {
        {"nicsounder report", {KIVRUN_PATH, kGuestDir + "/cmd/nicsounder"}, {kGuestDir + "/bench/linux_report"}, 40},
        {"8 MiB stored word by word",
         {KIVRUN_PATH, kGuestDir + "/bench/bench_store_fill"},
         {kGuestDir + "/bench/linux_store_fill"},
         20},
    };
    const Comparison suite[] = {
        compute("crc32 over 16 MiB (byte loads, table lookups)", "crc32", 5),
        compute("sieve to 4 M (strided byte stores)", "sieve", 5),
        compute("heapsort of 512 Ki words", "heapsort", 5),
        compute("recursive fib(30) (calls, returns)", "calls", 5),
        compute("32 MiB copied by rep movsb", "movsb", 5),
        compute("32 MiB copied by the library's memcpy", "memcpy", 5),
        compute("20,000 printf lines", "printf", 5),
        compute("200,000 empty writes", "syscalls", 5),
    };
    const Comparison heap_suite[] = {
        heap("heap: 8,000 small blocks kept, arena heap (twin: glibc malloc)", "arena", "fill", 10),
        heap("heap: 8,000 small blocks kept, mmap heap (twin: glibc malloc)", "mmap", "fill", 10),
        heap("heap: 1,000,000 random allocate/free steps, mmap heap (twin: glibc malloc)", "mmap", "churn", 5),
        heap("heap: 256 buffers grown by realloc to 16 KiB, mmap heap (twin: glibc malloc)", "mmap", "grow", 5),
    };
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd < 0) return 1;
    size_t sides = host_runs_i386(start_up[0].twin, null_fd) ? kSides : kNative;
    std::printf("Whole processes: kivrun against qemu-i386%s (medians; ratios: of the per-round ones)\n",
                sides == kSides ? " and the Linux twin run natively" : "");
    if (sides != kSides) std::printf("(this host does not run i386 programs: no native column)\n");
    bool all_ran = true;
    for (const Comparison &comparison : start_up)
        if (chosen(comparison, word)) all_ran = compare(comparison, sides, null_fd) && all_ran;
    double wall_logs = 0, cpu_logs = 0;
    int compared = 0;
    for (const Comparison &comparison : suite) {
        if (!chosen(comparison, word)) continue;
        std::optional<Ratios> ratios = compare(comparison, sides, null_fd);
        all_ran = ratios && all_ran;
        if (!ratios) continue;
        wall_logs += std::log(ratios->wall);
        cpu_logs += std::log(ratios->cpu);
        compared++;
    }
    if (compared > 0)
        std::printf("compute suite, geometric mean of kivrun/qemu-i386: wall %.2f, cpu %.2f\n",
                    std::exp(wall_logs / compared), std::exp(cpu_logs / compared));
    for (const Comparison &comparison : heap_suite)
        if (chosen(comparison, word)) all_ran = compare(comparison, sides, null_fd) && all_ran;
    return all_ran ? 0 : 1;
}
