// Ending the process: exit and abort go straight to the kernel, so no exit
// handler runs and a file still open for writing never reaches storage.
#include <gtest/gtest.h>

#include "guest_runner.h"

namespace kiv::test {
namespace {

struct Ending {
    const char *how;
    int32_t status;
};

void PrintTo(const Ending &ending, std::ostream *out) { *out << ending.how; }

class ProcessEnding : public ::testing::TestWithParam<Ending> {};

TEST_P(ProcessEnding, StatusWithoutHandlersOrFlushing) {
    TempDir sandbox;
    RunOptions options;
    options.root = sandbox.path().string();
    GuestRun run = run_guest(guest_program("fx_process"), {GetParam().how}, options);
    ASSERT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    EXPECT_EQ(run.result.status, GetParam().status);
    EXPECT_EQ(run.out, "atexit 0\ngetenv null\nwritten\n");
    EXPECT_TRUE(std::filesystem::is_empty(sandbox.path()));
    EXPECT_TRUE(run.calls("writefile").empty());
}

INSTANTIATE_TEST_SUITE_P(Endings, ProcessEnding,
                         ::testing::Values(Ending{"exit", 3}, Ending{"abort", 1}, Ending{"return", 0}),
                         [](const auto &info) { return std::string(info.param.how); });

}  // namespace
}  // namespace kiv::test
