// Whole processes against qemu-i386 on the same work: kivrun running a kivos
// program and qemu-i386 running its Linux i386 twin (bench/guest), from exec
// to exit. The two run in alternating pairs, so a busy machine slows both
// alike; the figures are the medians of the per-pair ratios of wall time and
// of CPU time (user and system, all threads; less disturbed by other load),
// shown with each side's median times. Before timing, both must exit with 0
// and print the same bytes.
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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
    Argv qemu;
    int pairs;
};

const std::string kGuestDir = KIV_GUEST_DIR;
const std::string kQemu = "qemu-i386";

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
        for (off_t at = 0; (got = pread(fd, buffer, sizeof buffer, at)) > 0; at += got) output->append(buffer, got);
    }
    if (fd >= 0) close(fd);
    return output;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool same_work(const Comparison &comparison) {
    std::optional<std::string> kivrun_output = output_of(comparison.kivrun);
    std::optional<std::string> qemu_output = output_of(comparison.qemu);
    if (!kivrun_output || !qemu_output) {
        std::fprintf(stderr, "%s: a run failed (is %s installed? Debian package qemu-user)\n", comparison.work,
                     kQemu.c_str());
        return false;
    }
    if (*kivrun_output == *qemu_output) return true;
    std::fprintf(stderr, "%s: kivrun and %s print different output\n", comparison.work, kQemu.c_str());
    return false;
}

// Medians of kivrun's times, qemu's times and the per-pair ratios.
class PairedTimes {
public:
    void add(double kivrun, double qemu) {
        kivrun_.push_back(kivrun);
        qemu_.push_back(qemu);
        ratios_.push_back(kivrun / qemu);
    }
    void print(const char *what) const {
        std::printf("  %-4s kivrun %8.2f ms   qemu-i386 %8.2f ms   ratio %5.2f\n", what, median(kivrun_) * 1e3,
                    median(qemu_) * 1e3, median(ratios_));
    }

private:
    std::vector<double> kivrun_, qemu_, ratios_;
};

bool compare(const Comparison &comparison, int null_fd) {
    if (!same_work(comparison)) return false;
    PairedTimes wall, cpu;
    for (int pair = 0; pair < comparison.pairs; pair++) {
        std::optional<Times> kivrun = run(comparison.kivrun, null_fd);
        std::optional<Times> qemu = run(comparison.qemu, null_fd);
        if (!kivrun || !qemu) {
            std::fprintf(stderr, "%s: a run failed during timing\n", comparison.work);
            return false;
        }
        wall.add(kivrun->wall, qemu->wall);
        cpu.add(kivrun->cpu, qemu->cpu);
    }
    std::printf("%s, %d pairs\n", comparison.work, comparison.pairs);
    wall.print("wall");
    cpu.print("cpu");
    return true;
}

}  // namespace

int main() {
    const Comparison comparisons[] = {
        {"nicsounder report",
         {KIVRUN_PATH, kGuestDir + "/cmd/nicsounder"},
         {kQemu, kGuestDir + "/bench/linux_report"},
         40},
        {"8 MiB stored word by word",
         {KIVRUN_PATH, kGuestDir + "/bench/bench_store_fill"},
         {kQemu, kGuestDir + "/bench/linux_store_fill"},
         20},
    };
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::printf("Whole processes, kivrun against qemu-i386 (medians; ratio: of the per-pair kivrun/qemu)\n");
    bool all_ran = null_fd >= 0;
    for (const Comparison &comparison : comparisons) all_ran = compare(comparison, null_fd) && all_ran;
    return all_ran ? 0 : 1;
}
