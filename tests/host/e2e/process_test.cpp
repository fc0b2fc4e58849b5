// Ending the process: exit and abort go straight to the kernel, so no exit
// handler runs and a file still open for writing never reaches storage.
#include <gtest/gtest.h>

#include "case_name.h"
#include "guest_runner.h"

namespace kiv::test {
namespace {

struct Ending {
    const char *name;  // how the fixture ends
    int32_t status;
};

void PrintTo(const Ending &ending, std::ostream *out) { *out << ending.name; }

class ProcessEnding : public ::testing::TestWithParam<Ending> {};

TEST_P(ProcessEnding, StatusWithoutHandlersOrFlushing) {
    TempDir sandbox;
    RunOptions options;
    options.root = sandbox.path().string();
    GuestRun run = run_guest(guest_program("fx_process"), {GetParam().name}, options);
    ASSERT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    EXPECT_EQ(run.result.status, GetParam().status);
    EXPECT_EQ(run.out, "atexit 0\ngetenv null\nwritten\n");
    EXPECT_TRUE(std::filesystem::is_empty(sandbox.path()));
    EXPECT_TRUE(run.calls("writefile").empty());
}

INSTANTIATE_TEST_SUITE_P(Endings, ProcessEnding,
                         ::testing::Values(Ending{"exit", 3}, Ending{"abort", 1}, Ending{"return", 0}), kCaseName);

// A library user's run names no kivrun to start children with: a spawn is
// refused, and nothing runs in the child's place (not the embedding program).
TEST(Embedding, SpawnWithoutRunnerIsRefused) {
    TempDir sandbox;
    FILE *trace = tmpfile();
    RunOptions options;
    options.root = sandbox.path().string();
    options.trace = trace;
    std::string program = guest_program("fx_spawn");
    RunResult result = run_program(program, {program, "statuses"}, options);
    std::string lines = read_all_from_start(fileno(trace));
    fclose(trace);
    ASSERT_EQ(result.outcome, RunResult::Outcome::Exited) << result.message;
    EXPECT_NE(result.status, 0);
    EXPECT_NE(lines.find("spawn_ex({path=\"/fx_spawn\""), std::string::npos) << lines;
    EXPECT_NE(lines.find(") = -1 ENOSYS"), std::string::npos) << lines;
}

}  // namespace
}  // namespace kiv::test
