// Whatever the loader accepts runs for a bounded number of blocks under the
// real kernel, in a scratch root with the console on /dev/null: the CPU's
// fault paths and the system-call handlers meet whatever the input's code
// does, and every run must end with an outcome, never a host crash.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "fuzz_check.h"
#include "run/run.h"
#include "support/unique_fd.h"

namespace {

constexpr uint64_t kBlockLimit = 4000;
// Code that waits on its own pipe is stopped by the clock instead.
constexpr double kTimeLimitSeconds = 2;

// The guest's root, emptied before every run so that no run sees another's
// files, and /dev/null for its console, trace and diagnostics.
class Scratch {
public:
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kiv-fuzz-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        null_ = std::fopen("/dev/null", "r+");
    }
    ~Scratch() {
        std::fclose(null_);
        std::filesystem::remove_all(root_);
    }

    kiv::RunOptions fresh_run() const {
        for (const auto &entry : std::filesystem::directory_iterator(root_)) std::filesystem::remove_all(entry);
        kiv::RunOptions options;
        options.root = root_;
        options.trace = null_;
        options.diagnostics = null_;
        options.console_in = options.console_out = options.console_err = fileno(null_);
        options.settings.block_limit = kBlockLimit;
        options.settings.timeout_seconds = kTimeLimitSeconds;
        options.settings.skip_sleeps = true;
        // No runner: a guest's spawn fails (ENOSYS) instead of starting this fuzzer again.
        return options;
    }

private:
    std::string root_;
    FILE *null_;
};

// The input as a file kivrun can open by name, without touching the disk.
kiv::UniqueFd memory_file(const uint8_t *data, size_t size) {
    kiv::UniqueFd file(memfd_create("executable", MFD_CLOEXEC));
    for (size_t written = 0; file.valid() && written < size;) {
        ssize_t count = write(file.get(), data + written, size - written);
        if (count <= 0) return kiv::UniqueFd();
        written += static_cast<size_t>(count);
    }
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const Scratch scratch;
    kiv::UniqueFd file = memory_file(data, size);
    kiv::fuzz::require(file.valid());
    std::string path = "/proc/self/fd/" + std::to_string(file.get());
    auto result = kiv::run_program(path, {"fuzzed"}, scratch.fresh_run());
    if (result.outcome == kiv::RunResult::Outcome::Exited) kiv::fuzz::require(result.message.empty());
    else kiv::fuzz::require(kiv::fuzz::one_line(result.message));
    return 0;
}
