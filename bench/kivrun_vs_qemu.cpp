// Whole processes against qemu-i386 on the same work: kivrun running a kivos
// program and qemu-i386 running its Linux i386 twin (bench/guest), from exec
// to exit. The two run in alternating pairs, so a busy machine slows both
// alike; the figure is the median of the per-pair time ratios, shown with
// each side's median time. Before timing, both must exit with 0 and print
// the same bytes.
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
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

// The process's wall time from spawn to exit, or nothing unless it ran and
// exited with 0.
std::optional<double> run_seconds(const Argv &args, int out_fd) {
    std::vector<char *> argv;
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    auto start = std::chrono::steady_clock::now();
    pid_t child;
    int status = -1;
    bool ran = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
               waitpid(child, &status, 0) == child;
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    posix_spawn_file_actions_destroy(&actions);
    if (!ran || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return elapsed.count();
}

// What the process prints, or nothing unless it exited with 0.
std::optional<std::string> output_of(const Argv &args) {
    int fd = memfd_create("output", MFD_CLOEXEC);
    std::optional<std::string> output;
    if (fd >= 0 && run_seconds(args, fd)) {
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

bool compare(const Comparison &comparison, int null_fd) {
    if (!same_work(comparison)) return false;
    std::vector<double> kivrun_times, qemu_times, ratios;
    for (int pair = 0; pair < comparison.pairs; pair++) {
        std::optional<double> kivrun = run_seconds(comparison.kivrun, null_fd);
        std::optional<double> qemu = run_seconds(comparison.qemu, null_fd);
        if (!kivrun || !qemu) {
            std::fprintf(stderr, "%s: a run failed during timing\n", comparison.work);
            return false;
        }
        kivrun_times.push_back(*kivrun);
        qemu_times.push_back(*qemu);
        ratios.push_back(*kivrun / *qemu);
    }
    std::printf("%-28s %4d pairs   kivrun %8.2f ms   qemu-i386 %8.2f ms   ratio %5.2f\n", comparison.work,
                comparison.pairs, median(kivrun_times) * 1e3, median(qemu_times) * 1e3, median(ratios));
    return true;
}

}  // namespace

int main() {
    const Comparison comparisons[] = {
        {"nicsounder report", {KIVRUN_PATH, kGuestDir + "/cmd/nicsounder"}, {kQemu, kGuestDir + "/bench/linux_report"}, 40},
        {"8 MiB stored word by word",
         {KIVRUN_PATH, kGuestDir + "/bench/bench_store_fill"},
         {kQemu, kGuestDir + "/bench/linux_store_fill"},
         20},
    };
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::printf("Whole processes, kivrun against qemu-i386 (medians; ratio = median of per-pair kivrun/qemu)\n");
    bool all_ran = null_fd >= 0;
    for (const Comparison &comparison : comparisons) all_ran = compare(comparison, null_fd) && all_ran;
    return all_ran ? 0 : 1;
}
