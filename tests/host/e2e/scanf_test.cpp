// fscanf's token reading as the kernel sees it: one read of one byte per
// input byte, each call taking the blanks before a token, the token and the
// one blank after it, and a read answering 0 marking the end.
#include <gtest/gtest.h>

#include "case_name.h"
#include "guest_runner.h"

namespace kiv::test {
namespace {

struct Scenario {
    const char *name;
    const char *input;
    const char *format;
    const char *out;
    size_t byte_reads;  // reads that returned a byte
    size_t end_reads;   // reads that returned 0
};

const Scenario kScenarios[] = {
    {"two_numbers", "  12 34", "%d %d", "1 12\n1 34\n-1\npos 7 eof 1\n", 7, 2},
    {"carriage_return_ends_token", "7\r\n\n 8\n", "%d", "1 7\n1 8\n-1\npos 7 eof 1\n", 7, 1},
    {"blanks_only", " \t\r\n ", "%d", "-1\npos 5 eof 1\n", 5, 1},
};

void PrintTo(const Scenario &scenario, std::ostream *out) { *out << scenario.name; }

class FscanfReads : public ::testing::TestWithParam<Scenario> {};

TEST_P(FscanfReads, OneBytePerRead) {
    const Scenario &scenario = GetParam();
    TempDir sandbox;
    RunOptions options;
    options.root = sandbox.path().string();
    GuestRun run = run_guest(guest_program("fx_fscanf"), {scenario.format}, options, scenario.input);
    ASSERT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    EXPECT_EQ(run.out, scenario.out);
    size_t byte_reads = 0, end_reads = 0;
    for (const TracedCall &call : run.traced_calls()) {
        if (call.name != "read") continue;
        ASSERT_EQ(call.args.size(), 3u);
        EXPECT_EQ(call.args[0], "0");
        EXPECT_EQ(call.args[2], "1");
        if (call.result == "1") byte_reads++;
        else if (call.result == "0") end_reads++;
        else ADD_FAILURE() << "unexpected read result " << call.result;
    }
    EXPECT_EQ(byte_reads, scenario.byte_reads);
    EXPECT_EQ(end_reads, scenario.end_reads);
}

INSTANTIATE_TEST_SUITE_P(Tokens, FscanfReads, ::testing::ValuesIn(kScenarios), kCaseName);

}  // namespace
}  // namespace kiv::test
