// What the system-call wrappers hand to the kernel, read from the trace:
// guards that keep a call from the kernel, clamped counts, normalised
// booleans, zeros in unused positions, and the argument order. What the
// kernel answers at the edges of its rules is os/calls_test.cpp's.
#include <gtest/gtest.h>

#include <algorithm>

#include "case_name.h"
#include "guest_runner.h"

namespace kiv::test {
namespace {

struct Scenario {
    const char *name;
    // Expected calls in trace syntax (see call_matches).
    std::vector<std::string> calls;
};

const Scenario kScenarios[] = {
    {"transfers",
     {
         R"(write(1, "", 0) = 0)",
         R"(write(1, *, 2147483647) = -1)",
         R"(read(0, *, 2147483647) = -1)",
         R"(writefile("w.txt", *, 2147483647) = -1)",
         R"(kivfs_stream_write(3, *, 2147483647) = -1)",
         R"(exit(0) = ?)",
     }},
    {"opening",
     {
         R"(open("f.txt", O_WRONLY|O_CREAT|O_TRUNC, third=0x241) = 3)",
         R"(open("f.txt", O_RDONLY, third=0x0) = 4)",
         R"(open("g.txt", O_WRONLY|O_CREAT|O_TRUNC, third=0x0) = 5)",
         R"(open("f.txt", O_RDONLY, third=0x0) = 6)",
         R"(close(6) = 0)",
         R"(open("missing.txt", O_RDONLY, third=0x0) = -1)",
         R"(exit(0) = ?)",
     }},
    {"paths",
     {
         R"(mkdir("d") = 0)",
         R"(chdir("d") = 0)",
         R"(getcwd("/d", 2147483647) = 3)",
         R"(chdir("/") = 0)",
         R"(rmdir("d") = 0)",
         R"(unlink("nothing") = -1)",
         R"(exit(0) = ?)",
     }},
    {"sleeping",
     {
         R"(usleep(1500) = 0)",
         R"(usleep(2000000) = 0)",
         R"(usleep(4294000000) = 0)",
         R"(usleep(4294000000) = 0)",
         R"(usleep(706000000) = 0)",
         R"(exit(0) = ?)",
     }},
    {"memory",
     {
         R"(mmap(NULL, 4096, PROT_READ|PROT_WRITE, MAP_PRIVATE|MAP_ANONYMOUS, -1, 4660) = *)",
         R"(munmap(*, 4096) = 0)",
         R"(lseek(7, -5, SEEK_END) = -1)",
         R"(exit(0) = ?)",
     }},
    {"descriptors",
     {
         R"(pipe([3, 4]) = 0)",
         R"(dup(1) = 5)",
         R"(dup2(1, 9) = 9)",
         R"(fd_set_inherit(1) = 0)",
         R"(fd_set_inherit(0) = 0)",
         R"(fd_set_stdio(4, 5, 6) = -1)",
         R"(fd_set_nonblock(3, 1) = 0)",
         R"(getkey() = 105)",
         R"(exit(0) = ?)",
     }},
    {"spawning",
     {
         R"(spawn("p", ["a", "b"], 2) = -1)",
         R"(spawn_ex({path="p", argv=["a", "b"], argc=2, 4, 5, 6, flag=1}) = -1)",
         R"(spawn_ex({path="p", argv=["a", "b"], argc=2, -4, 0, 0, flag=0}) = -1)",
         R"(waitpid(5, *, 0x3) = -1)",
         R"(exit(0) = ?)",
     }},
};

class WrapperTrace : public testing::TestWithParam<Scenario> {};

TEST_P(WrapperTrace, ReachesTheKernelAsExpected) {
    const Scenario &scenario = GetParam();
    TempDir sandbox;
    RunOptions options;
    options.root = sandbox.path();
    options.settings.skip_sleeps = true;
    options.settings.timeout_seconds = 5;  // a call that waits by mistake fails the case
    GuestRun run = run_guest(guest_program("fx_wrappers"), {scenario.name}, options, "in");
    ASSERT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    EXPECT_EQ(run.result.status, 0) << run.out;

    EXPECT_EQ(trace_mismatch(run, scenario.calls), "");
}

INSTANTIATE_TEST_SUITE_P(Scenarios, WrapperTrace, testing::ValuesIn(kScenarios), kCaseName);

TEST(Wrappers, FilesWrittenThroughTheirCalls) {
    TempDir sandbox;
    RunOptions options;
    options.root = sandbox.path();
    GuestRun run = run_guest(guest_program("fx_fs"), {"writefile", "w.txt", "stream", "s.txt"}, options);
    EXPECT_EQ(run.out, "writefile w.txt -> 8\nstream s.txt -> 0\n");
    EXPECT_EQ(sandbox.read("w.txt"), "replaced");
    EXPECT_EQ(sandbox.read("s.txt"), "stream");
}

// The guest's own checks see only -1; the trace tells why.
TEST(Wrappers, MappingLimitsAnswerOutOfMemory) {
    GuestRun run = run_guest(guest_program("t_mmap"));
    ASSERT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    EXPECT_EQ(run.result.status, 0) << run.out;
    auto refused = [](const std::vector<std::string> &lines) {
        return std::count_if(lines.begin(), lines.end(),
                             [](const std::string &line) { return line.find("= -1 ENOMEM") != std::string::npos; });
    };
    EXPECT_GE(refused(run.calls("mmap")), 2) << "the scattered page and the one too large";
    EXPECT_EQ(refused(run.calls("munmap")), 1);
}

}  // namespace
}  // namespace kiv::test
