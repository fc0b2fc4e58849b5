// The kivrun command as a user meets it: help, errors in one line with a
// documented status, the guest's status passed through, the trace to a file.
#include <gtest/gtest.h>

#include "guest_runner.h"

namespace kiv::test {
namespace {

using Invocation = CommandRun;

Invocation kivrun(const std::vector<std::string> &args) {
    std::vector<std::string> argv{KIVRUN_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_command(argv);
}

size_t line_count(const std::string &text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

TEST(Cli, HelpTellsTheOptionsAndStatuses) {
    Invocation run = kivrun({"--help"});
    EXPECT_EQ(run.status, 0);
    for (const char *word : {"Usage: kivrun", "--root", "--trace", "--timeout", "--max-blocks", "--gdb", "--nic", "124",
                             "125", "126", "127", "128+N"})
        EXPECT_NE(run.out.find(word), std::string::npos) << word;
    EXPECT_EQ(run.err, "");
}

struct Mistake {
    const char *name;
    std::vector<std::string> args;
    int status;
    const char *message;
};

const Mistake kMistakes[] = {
    {"no_program", {}, 125, "no program given"},
    {"unknown_option", {"--bogus", "x"}, 125, "unknown option"},
    {"missing_value", {"--root"}, 125, "missing value"},
    {"bad_timeout", {"--timeout", "soon", "x"}, 125, "invalid time limit"},
    {"negative_timeout", {"--timeout", "-1", "x"}, 125, "invalid time limit"},
    {"bad_blocks", {"--max-blocks", "0", "x"}, 125, "invalid block limit"},
    {"bad_gdb_port", {"--gdb", "65536", "x"}, 125, "invalid gdb port"},
    {"bad_nic", {"--nic", "wifi", "x"}, 125, "invalid NIC source"},
    {"bad_pci", {"--nic-pci", "00:20.0", "x"}, 125, "invalid PCI address"},
    {"bad_mac", {"--nic-mac", "52:54:00", "x"}, 125, "invalid MAC address"},
    {"bad_mmio", {"--nic-mmio", "0x100000000", "x"}, 125, "invalid MMIO base"},
    {"bad_root", {"--root", "/nonexistent-root", KIV_GUEST_DIR "/tests/fixed_hello"}, 125, "cannot use"},
    {"missing_program", {"/nonexistent-program"}, 127, "cannot open /nonexistent-program"},
    {"not_an_executable", {KIV_SOURCE_DIR "/Makefile"}, 126, "cannot run"},
};

class CliMistakes : public testing::TestWithParam<Mistake> {};

TEST_P(CliMistakes, GiveOneLineAndAStatus) {
    Invocation run = kivrun(GetParam().args);
    EXPECT_EQ(run.status, GetParam().status);
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("kivrun: ", 0), 0u) << run.err;
    // One line, plus a pointer to --help for usage mistakes.
    EXPECT_LE(line_count(run.err), GetParam().status == 125 ? 2u : 1u) << run.err;
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(Mistakes, CliMistakes, testing::ValuesIn(kMistakes),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Cli, OptionsEndAtTheProgram) {
    // Everything after the program belongs to it, options included.
    Invocation run = kivrun({guest_program("fx_args"), "7", "--root", "-t"});
    EXPECT_EQ(run.status, 7);
    EXPECT_NE(run.out.find("argv[2]=--root\nargv[3]=-t\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
}

TEST(Cli, TraceGoesToTheNamedFile) {
    TempDir directory;
    Invocation run = kivrun({"--trace=" + directory / "trace.txt", "--root", directory.path(),
                             guest_program("fixed_hello")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "hello from kivos\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(directory.read("trace.txt"), "write(1, \"hello from kivos\\n\", 17) = 17\nexit(0) = ?\n");
}

TEST(Cli, FaultReportGoesToStandardError) {
    Invocation run = kivrun({guest_program("fx_fault"), "hlt"});
    EXPECT_EQ(run.status, 139);
    EXPECT_NE(run.err.find("general protection fault"), std::string::npos);
    EXPECT_EQ(line_count(run.err), 1u);
}

}  // namespace
}  // namespace kiv::test
