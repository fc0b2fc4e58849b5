// What running under the stand-in kernel costs inside this process:
// nicsounder from load to exit through run_program, one cheap system call
// and one mmap (N calls timed against none), and the compute suite's
// kernels without and with coverage (its block counting and the record
// written at the end). Console output goes to /dev/null. Whole kivrun processes are timed
// by kivrun_vs_qemu.
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "run/run.h"

namespace {

const std::string kNicsounder = std::string(KIV_GUEST_DIR) + "/cmd/nicsounder";
const std::string kSyscallLoop = std::string(KIV_GUEST_DIR) + "/tests/fx_syscall_loop";
const std::string kCompute = std::string(KIV_GUEST_DIR) + "/bench/bench_compute";

class NullConsole {
public:
    NullConsole() : fd_(open("/dev/null", O_WRONLY | O_CLOEXEC)) {}
    ~NullConsole() { close(fd_); }
    NullConsole(const NullConsole &) = delete;
    NullConsole &operator=(const NullConsole &) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

kiv::RunOptions quiet_options(const NullConsole &console) {
    kiv::RunOptions options;
    options.root = std::filesystem::temp_directory_path().string();
    options.console_out = console.fd();
    options.console_err = console.fd();
    // No runner: the measured programs spawn nothing, and a spawn would fail
    // (ENOSYS) rather than start this benchmark again.
    return options;
}

// One run; false (with the benchmark marked failed) unless it exited with 0.
bool run_once(benchmark::State &state, const std::vector<std::string> &argv, const kiv::RunOptions &options) {
    kiv::RunResult result = kiv::run_program(argv[0], argv, options);
    if (result.outcome == kiv::RunResult::Outcome::Exited && result.status == 0) return true;
    state.SkipWithError(("run failed: " + result.message).c_str());
    return false;
}

void BM_NicsounderInProcess(benchmark::State &state) {
    NullConsole console;
    kiv::RunOptions options = quiet_options(console);
    for (auto _ : state)
        if (!run_once(state, {kNicsounder}, options)) break;
}
BENCHMARK(BM_NicsounderInProcess)->Unit(benchmark::kMillisecond);

// Each iteration runs the loop with N calls of `kind` and with none; only
// the difference is counted, so the reported time is N calls' worth and
// ns_per_call the mean of one. For write, that is the emulator's interrupt
// exit, the dispatch and back; for mmap, the mean over a growing number of
// mappings, which stays flat when the cost of one call does not grow.
void BM_SystemCalls(benchmark::State &state, const char *kind) {
    using Clock = std::chrono::steady_clock;
    NullConsole console;
    kiv::RunOptions options = quiet_options(console);
    const std::string calls = std::to_string(state.range(0));
    double extra_seconds = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        if (!run_once(state, {kSyscallLoop, calls, kind}, options)) break;
        auto with_calls = Clock::now();
        if (!run_once(state, {kSyscallLoop, "0", kind}, options)) break;
        std::chrono::duration<double> difference = (with_calls - start) - (Clock::now() - with_calls);
        state.SetIterationTime(std::max(difference.count(), 0.0));
        extra_seconds += difference.count();
    }
    double total_calls = static_cast<double>(state.iterations()) * static_cast<double>(state.range(0));
    state.counters["ns_per_call"] = total_calls > 0 ? extra_seconds * 1e9 / total_calls : 0;
}
BENCHMARK_CAPTURE(BM_SystemCalls, write, "write")->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SystemCalls, mmap, "mmap")
    ->Arg(500)
    ->Arg(4000)
    ->Arg(16000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SystemCalls, mmap_scattered, "mmap-scattered")
    ->Arg(100)
    ->Arg(250)
    ->Arg(500)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Argument 0 runs the kernel plainly, 1 with an lcov record, 2 with a drcov
// log; the ratio of the times is the cost of coverage.
void BM_Coverage(benchmark::State &state, const char *kernel) {
    NullConsole console;
    kiv::RunOptions options = quiet_options(console);
    std::filesystem::path record = std::filesystem::temp_directory_path() / "kivrun-bench-coverage";
    if (state.range(0) != 0)
        options.settings.coverage = {record.string(),
                                     state.range(0) == 1 ? kiv::CoverageFormat::Lcov : kiv::CoverageFormat::Drcov};
    for (auto _ : state) {
        std::filesystem::remove(record);
        if (!run_once(state, {kCompute, kernel}, options)) break;
    }
    std::filesystem::remove(record);
}
BENCHMARK_CAPTURE(BM_Coverage, crc32, "crc32")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Coverage, sieve, "sieve")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Coverage, heapsort, "heapsort")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Coverage, calls, "calls")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Coverage, movsb, "movsb")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Coverage, memcpy, "memcpy")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
