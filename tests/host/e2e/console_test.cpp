// Console output through the stream layer and the stream formatting engine,
// read from the trace: one write per single byte (ordinary text, padding,
// sign, prefix), one per number or string, the control record in one
// piece, and nothing at all where nothing is to be written. With writes
// refused or cut short by injection: what stays written, what is retried.
#include <gtest/gtest.h>

#include "case_name.h"
#include "guest_runner.h"

namespace kiv::test {
namespace {

struct Scenario {
    const char *name;
    int status;       // the call's result, as the fixture's exit status
    std::string out;  // the console bytes
    std::vector<std::string> calls;
    std::string injection = "";  // the run's -e inject= expression

    // The same fixture runs with several injections.
    std::string label() const { return injection.empty() ? name : name + ("_with_" + injection); }
};
void PrintTo(const Scenario &scenario, std::ostream *out) { *out << scenario.name; }

const Scenario kScenarios[] = {
    {"control-record", 0, "\xff\x01\x02\xff", {R"(write(1, "\xff\x01\x02\xff", 4) = 4)", "exit(0) = ?"}},
    {"control-record-then-text",
     1,
     "\xff\x01\x02\x03X",
     {R"(write(1, "\xff\x01\x02\x03", 4) = 4)", R"(write(1, "X", 1) = 1)", "exit(1) = ?"}},
    {"late-c-is-a-character", 2, "xA", {R"(write(1, "x", 1) = 1)", R"(write(1, "A", 1) = 1)", "exit(2) = ?"}},
    {"control-record-on-stderr", 0, "\xff\x04\x05\x06", {R"(write(1, "\xff\x04\x05\x06", 4) = 4)", "exit(0) = ?"}},
    {"pieces",
     20,
     "  -42|-0042| ab|0x1a",
     {
         R"(write(1, " ", 1) = 1)",
         R"(write(1, " ", 1) = 1)",
         R"(write(1, "-", 1) = 1)",
         R"(write(1, "42", 2) = 2)",
         R"(write(1, "|", 1) = 1)",
         R"(write(1, "-", 1) = 1)",
         R"(write(1, "0", 1) = 1)",
         R"(write(1, "0", 1) = 1)",
         R"(write(1, "42", 2) = 2)",
         R"(write(1, "|", 1) = 1)",
         R"(write(1, " ", 1) = 1)",
         R"(write(1, "ab", 2) = 2)",
         R"(write(1, "|", 1) = 1)",
         R"(write(1, "0", 1) = 1)",
         R"(write(1, "x", 1) = 1)",
         R"(write(1, "1a", 2) = 2)",
         "exit(20) = ?",
     }},
    {"unknown-letter", 2, "%X", {R"(write(1, "%", 1) = 1)", R"(write(1, "X", 1) = 1)", "exit(2) = ?"}},
    {"descriptor-zero", 255, "", {"exit(-1) = ?"}},
    {"stderr-is-descriptor-1", 3, "err", {R"(write(1, "err", 3) = 3)", "exit(3) = ?"}},
    {"fputs-empty", 0, "", {"exit(0) = ?"}},
    {"puts", 0, "hi\n", {R"(write(1, "hi", 2) = 2)", R"(write(1, "\n", 1) = 1)", "exit(0) = ?"}},
    {"puts-empty", 0, "\n", {R"(write(1, "\n", 1) = 1)", "exit(0) = ?"}},
    {"putchar", 0x41, "A", {R"(write(1, "A", 1) = 1)", "exit(321) = ?"}},
    {"fwrite", 2, "abcdef", {R"(write(1, "abcdef", 6) = 6)", "exit(2) = ?"}},
    // A refused piece ends printf at once; the pieces before it stay.
    {"pieces",
     255,
     "  ",
     {R"(write(1, " ", 1) = 1)", R"(write(1, " ", 1) = 1)", R"(write(1, "-", 1) = -1)", "exit(-1) = ?"},
     "write:error=EIO:when=3+"},
    {"puts", 255, "", {R"(write(1, "hi", 2) = -1)", "exit(-1) = ?"}, "write:error=EIO:when=1"},
    {"puts",
     255,
     "hi",
     {R"(write(1, "hi", 2) = 2)", R"(write(1, "\n", 1) = -1)", "exit(-1) = ?"},
     "write:error=EIO:when=2"},
    // A short write is continued from the first byte not taken.
    {"fwrite",
     2,
     "abcdef",
     {R"(write(1, "abcdef", 6) = 2)", R"(write(1, "cdef", 4) = 2)", R"(write(1, "ef", 2) = 2)", "exit(2) = ?"},
     "write:short=2"},
    {"fclose-stdout",
     0,
     "still here\n",
     {R"(write(1, "still here", 10) = 10)", R"(write(1, "\n", 1) = 1)", "exit(0) = ?"}},
};

class ConsoleOutput : public testing::TestWithParam<Scenario> {};

TEST_P(ConsoleOutput, WritesExactlyThesePieces) {
    const Scenario &scenario = GetParam();
    TempDir sandbox;
    RunOptions options;
    options.root = sandbox.path();
    if (!scenario.injection.empty()) {
        Result<Injection> injection = parse_injection(scenario.injection);
        ASSERT_TRUE(injection) << injection.error();
        options.settings.injection.injections.push_back(*injection);
    }
    GuestRun run = run_guest(guest_program("fx_console"), {scenario.name}, options);
    ASSERT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    EXPECT_EQ(run.result.exit_code, scenario.status);
    EXPECT_EQ(run.out, scenario.out);
    EXPECT_EQ(trace_mismatch(run, scenario.calls), "");
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ConsoleOutput, testing::ValuesIn(kScenarios), kCaseName);

}  // namespace
}  // namespace kiv::test
