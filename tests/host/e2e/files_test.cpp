// File streams in the sandbox, read from the trace: one read per request,
// no system call at fopen for writing, one writefile at fclose (an empty
// text for a stream never written), and none at all where reading or
// positioning has no meaning. The fixture checks the values itself.
#include <gtest/gtest.h>

#include "case_name.h"
#include "guest_runner.h"

namespace kiv::test {
namespace {

struct Scenario {
    const char *name;
    std::vector<std::string> calls;
};
void PrintTo(const Scenario &scenario, std::ostream *out) { *out << scenario.name; }

const Scenario kScenarios[] = {
    {"read-ten-bytes",
     {
         R"(open("ten.txt", O_RDONLY, *) = 3)",
         R"(read(3, "0123456789", 12) = 10)",
         R"(read(3, *, 12) = 0)",
         R"(lseek(3, 0, SEEK_SET) = 0)",
         R"(read(3, "0", 1) = 1)",
         R"(close(3) = 0)",
         "exit(0) = ?",
     }},
    {"write-nothing", {R"(writefile("empty.txt", "", 0) = 0)", "exit(0) = ?"}},
    {"write-content", {R"(writefile("out.txt", "n=5 ok", 6) = 6)", "exit(0) = ?"}},
    {"write-into-missing-directory", {R"(writefile("missing/out.txt", "data", 4) = -1)", "exit(0) = ?"}},
    {"refused", {"exit(0) = ?"}},
    {"read-characters",
     {
         R"(read(0, "a", 1) = 1)",
         R"(read(0, "b", 1) = 1)",
         R"(read(0, *, 1) = 0)",
         "exit(0) = ?",
     }},
};

class FileStreams : public testing::TestWithParam<Scenario> {};

TEST_P(FileStreams, MakeExactlyTheseCalls) {
    const Scenario &scenario = GetParam();
    TempDir sandbox;
    sandbox.write("ten.txt", "0123456789");
    RunOptions options;
    options.root = sandbox.path();
    GuestRun run = run_guest(guest_program("fx_files"), {scenario.name}, options, "ab");
    ASSERT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    EXPECT_EQ(run.result.status, 0) << run.out;
    EXPECT_EQ(trace_mismatch(run, scenario.calls), "");
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FileStreams, testing::ValuesIn(kScenarios), kCaseName);

}  // namespace
}  // namespace kiv::test
