// Process start and end as the program sees them: the argument count and
// vector exactly as given and in place on the initial stack, the stack
// aligned the same whatever their size, argv[0] the program name as given,
// and main's status as the process's exit status.
#include <gtest/gtest.h>

#include <string_view>

#include "case_name.h"
#include "guest_runner.h"

namespace kiv::test {
namespace {

// What fx_args says of the vector and the stack after echoing the arguments.
constexpr std::string_view kHandedOver = "null-terminated\nargv in place\naligned\n";

std::string expected_echo(const std::vector<std::string> &argv) {
    std::string text = "argc=" + std::to_string(argv.size()) + "\n";
    for (size_t i = 0; i < argv.size(); i++) text += "argv[" + std::to_string(i) + "]=" + argv[i] + "\n";
    return text + std::string(kHandedOver);
}

struct ArgumentCase {
    const char *name;
    std::vector<std::string> args;
};

const ArgumentCase kArgumentCases[] = {
    {"none", {}},
    {"one", {"0"}},
    {"two", {"0", "1"}},
    {"three", {"0", "1", "2"}},
    {"empty_and_spaces", {"0", "", "  two words  ", "\ttab"}},
    {"many", std::vector<std::string>(200, "0")},
    {"long", {"0", std::string(100000, 'x')}},
};

class ProgramArguments : public testing::TestWithParam<ArgumentCase> {};

TEST_P(ProgramArguments, ReachMainAsGiven) {
    std::string program = guest_program("fx_args");
    GuestRun run = run_guest(program, GetParam().args);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    EXPECT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.out, expected_echo(argv));
}

INSTANTIATE_TEST_SUITE_P(Vectors, ProgramArguments, testing::ValuesIn(kArgumentCases), kCaseName);

TEST(Startup, ArgvZeroIsTheNameAsGiven) {
    TempDir directory;
    std::filesystem::copy_file(guest_program("fx_args"), directory / "prog");
    std::string relative = std::filesystem::relative(directory / "prog").string();
    GuestRun named = run_guest(relative);
    EXPECT_NE(named.out.find("argv[0]=" + relative + "\n"), std::string::npos) << named.out;
}

TEST(Startup, ArgumentsTooLargeForTheStackAreRefused) {
    GuestRun run = run_guest(guest_program("fx_args"), {std::string(2 << 20, 'x')});
    EXPECT_EQ(run.result.exit_code, kExitHostError);
    EXPECT_NE(run.result.message.find("arguments do not fit"), std::string::npos);
}

struct StatusCase {
    const char *returned;
    int32_t status;
    int exit_code;
};

const StatusCase kStatuses[] = {
    {"0", 0, 0}, {"1", 1, 1}, {"255", 255, 255}, {"256", 256, 0}, {"300", 300, 44},
};

TEST(Startup, MainsStatusBecomesTheExitStatus) {
    for (const auto &c : kStatuses) {
        GuestRun run = run_guest(guest_program("fx_args"), {c.returned});
        EXPECT_EQ(run.result.outcome, RunResult::Outcome::Exited);
        EXPECT_EQ(run.result.status, c.status) << c.returned;
        EXPECT_EQ(run.result.exit_code, c.exit_code) << c.returned;
        // Everything written before main returned is on the console.
        EXPECT_TRUE(run.out.ends_with(kHandedOver)) << run.out;
        auto lines = run.trace_lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "exit(" + std::string(c.returned) + ") = ?");
        EXPECT_EQ(lines.back(), "+++ exited with " + std::to_string(c.exit_code) + " +++");
    }
}

TEST(Startup, SelfChecksRunAsCommands) {
    for (const char *name : {"t_startup", "fixed_hello"}) {
        GuestRun run = run_guest(guest_program(name));
        EXPECT_EQ(run.result.status, 0) << name << ": " << run.out;
    }
}

}  // namespace
}  // namespace kiv::test
