// Processes: a guest program runs children of itself under kivrun and
// checks what they did; the host checks the reports, the trace and that no
// process outlives the run.
#include <signal.h>

#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "guest_runner.h"

namespace kiv::test {
namespace {

struct Family {
    const char *scenario;
    std::vector<std::string> options;
    int status;
    // Patterns that must match somewhere on standard error. The processes
    // write to it at once, so lines of others may come between two of one,
    // and a call's line comes when it returns: a child may be done before
    // its parent's spawn_ex line.
    std::vector<std::string> reports;
};

void PrintTo(const Family &family, std::ostream *out) { *out << family.scenario; }

const Family kFamilies[] = {
    {"pipe", {}, 0, {}},
    {"statuses", {}, 0,
     {R"(kivrun: \[pid \d+\] /fx_spawn: page fault \(write to unmapped memory\) at eip 0x[0-9a-f]+ \(fault\+0x[0-9a-f]+\), )"
      R"(address 0x8\n)"}},
    // Children take the trace's form from their parent.
    {"statuses", {"-tt", "-e", "trace=exit"}, 0,
     {R"(^(?![\s\S]*(waitpid|spawn_ex)\())",
      R"(\n\[pid (\d+)\] \d\d:\d\d:\d\d\.\d{6} exit\(7\) = \?\n(.*\n)*?\[pid \1\] [0-9:.]+ \+\+\+ exited with 7 \+\+\+\n)",
      R"(\n\[pid \d+\] [0-9:.]+ --- #0 0x[0-9a-f]+ \(fault\+0x[0-9a-f]+\)\n)",
      R"(\n\[pid \d+\] [0-9:.]+ \+\+\+ killed by SIGSEGV \+\+\+\n)"}},
    // A filled status word shows as strace shows one; choosing calls turns
    // the trace on.
    {"statuses", {"-e", "trace=waitpid"}, 0,
     {R"(\n\[pid \d+\] waitpid\(\d+, \[\{WIFEXITED\(s\) && WEXITSTATUS\(s\) == 7\}\], 0x0\) = \d+\n)",
      R"(\n\[pid \d+\] waitpid\(\d+, \[\{WIFSIGNALED\(s\) && WTERMSIG\(s\) == SIGSEGV\}\], 0x0\) = \d+\n)"}},
    {"statuses", {"-c"}, 0,
     {R"(\n\[pid \d+\] +100\.00 +\d+\.\d{6} +\d+ +1 +exit\n)", R"(\n\[pid \d+\] +100\.00 .* 7 +total\n)"}},
    {"statuses", {"--trace-format=json", "-t"}, 0,
     {R"(^(?=[\s\S]*?\{"pid":(\d+),"call":"spawn_ex".*"result":(\d+),))"
      R"((?=[\s\S]*\{"pid":\2,"end":"exited with 7"\}))"
      R"([\s\S]*\{"pid":\1,"end":"exited with 0"\})"}},
    {"flooded-pipe", {}, 0, {}},
    {"reverse-order", {}, 0, {}},
    {"refusals", {"--trace"}, 0,
     {R"(\n--- spawn: cannot run text: not an ELF file)",
      R"(\nspawn\("/missing", \["x"\], 1\) = -1 ENOENT)",
      R"(\n\[pid (\d+)\] spawn_ex\(\{path="/fx_spawn".*\}\) = \d+\n)",
      R"(\n\[pid (\d+)\] exit\(7\) = \?\n(.*\n)*?\[pid \1\] \+\+\+ exited with 7 \+\+\+\n)",
      R"(\n\[pid \d+\] waitpid\(-?\d+, 0x8, 0x0\) = -1 EFAULT)",
      // Nothing reaped, nothing filled.
      R"(\n\[pid \d+\] waitpid\(\d+, 0x[0-9a-f]+, 0x1\) = 0\n)"}},
    {"descriptors", {}, 0, {}},
    {"live-limit", {}, 0, {}},
    {"time-limit", {"--timeout", "1"}, 124, {R"(kivrun: .*fx_spawn: stopped after the time limit of 1 s)"}},
};

class Processes : public testing::TestWithParam<Family> {};

TEST_P(Processes, ChildrenRunAsTheParentExpects) {
    const Family &family = GetParam();
    TempDir sandbox;
    std::filesystem::copy_file(guest_program("fx_spawn"), sandbox / "fx_spawn");
    std::vector<std::string> argv{KIVRUN_PATH, "--root", sandbox.path().string()};
    argv.insert(argv.end(), family.options.begin(), family.options.end());
    argv.insert(argv.end(), {sandbox / "fx_spawn", family.scenario});
    CommandRun run = run_command(argv);
    EXPECT_EQ(run.status, family.status) << run.out << run.err;
    EXPECT_EQ(run.out.find("FAIL"), std::string::npos) << run.out;
    std::string lines = "\n" + run.err;
    for (const auto &report : family.reports)
        EXPECT_TRUE(std::regex_search(lines, std::regex(report))) << report << "\nnot in:\n" << run.err;

    static const std::regex kSpawned(R"(spawned (\d+))");
    int spawned = 0;
    for (std::sregex_iterator it(run.err.begin(), run.err.end(), kSpawned), end; it != end; ++it, ++spawned)
        EXPECT_NE(kill(std::stoi((*it)[1]), 0), 0) << "process " << (*it)[1] << " outlived the run";
    EXPECT_GT(spawned, 0) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Processes, testing::ValuesIn(kFamilies), [](const auto &info) {
    std::string name = info.param.scenario + ("_" + std::to_string(info.index));
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});

// The trace file is opened once: children write to the same descriptor
// instead of opening (and truncating) it again.
TEST(Processes, ChildrenAppendToTheTraceFile) {
    TempDir sandbox;
    std::filesystem::copy_file(guest_program("fx_spawn"), sandbox / "fx_spawn");
    CommandRun run = run_command({KIVRUN_PATH, "--root", sandbox.path().string(), "-o", sandbox / "trace.log",
                                  sandbox / "fx_spawn", "statuses"});
    EXPECT_EQ(run.status, 0) << run.err;
    auto bytes = read_test_file(sandbox / "trace.log");
    std::string trace(bytes.begin(), bytes.end());
    // A child may finish before its parent's spawn_ex line is written.
    EXPECT_TRUE(std::regex_search(trace, std::regex(R"(^(?=[\s\S]*\] exit\(7\) = \?\n))"
                                                    R"([\s\S]*\[pid (\d+)\] spawn_ex\()"
                                                    R"([\s\S]*\n\[pid \1\] \+\+\+ exited with 0 \+\+\+\n$)")))
        << trace;
}

}  // namespace
}  // namespace kiv::test
