// Process start and end as the program sees them: the argument count and
// vector exactly as given and in place on the initial stack, the stack
// aligned the same whatever their size, argv[0] the program name as given,
// and main's status as the process's exit status.
#include <gtest/gtest.h>

#include <string_view>

#include "case_name.h"
#include "guest_runner.h"
#include "machine/initial_state.h"

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

// The state fx_machine prints for a process that `who` names, from the
// values kivrun sets up and the CPUID it serves.
std::string initial_state_line(const std::string &who) {
    constexpr uint32_t kAllEmpty = 0xffff, kLastExtendedLeaf = 0x80000000u;
    CpuidAnswer features = served_cpuid(1);
    char line[320];
    snprintf(line, sizeof line,
             "%s: fcw=%04x fsw=0000 ftw=%04x mxcsr=%08x eflags=%08x cs=%04x ds=%04x es=%04x fs=0000 gs=0000 ss=%04x"
             " cpuid0=%08x cpuid1=%08x:%08x:%08x ext=%08x\n",
             who.c_str(), kInitialFpuControl, kAllEmpty, kInitialMxcsr, kInitialEflags, kUserCodeSelector,
             kUserDataSelector, kUserDataSelector, kUserDataSelector, served_cpuid(0).eax, features.eax, features.ecx,
             features.edx, served_cpuid(kLastExtendedLeaf).eax);
    return line;
}

// Every process, the first and each spawned one, starts as on Linux i386:
// the x87 unit as after fninit, MXCSR at reset, no arithmetic flag or DF.
TEST(Startup, MachineStateIsLinuxI386s) {
    TempDir sandbox;
    std::filesystem::copy_file(guest_program("fx_machine"), sandbox / "fx_machine");
    RunOptions options;
    options.root = sandbox.path();
    GuestRun run = run_guest(guest_program("fx_machine"), {"spawn"}, options);
    EXPECT_EQ(run.result.status, 0) << run.result.message;
    EXPECT_EQ(run.out, initial_state_line("spawned") + initial_state_line("first"));
}

// Only what this machine runs: no sysenter (refused here), no long mode.
TEST(Startup, CpuidNamesNeitherSysenterNorLongMode) {
    constexpr uint32_t kSysenter = 1u << 11, kSse2 = 1u << 26;
    EXPECT_EQ(served_cpuid(1).edx & kSysenter, 0u);
    EXPECT_NE(served_cpuid(1).edx & kSse2, 0u);
    EXPECT_EQ(served_cpuid(0x80000001u).edx, 0u);
}

}  // namespace
}  // namespace kiv::test
