// A misbehaving guest is stopped with a one-line report naming what
// happened, where, and (for memory) the faulting address, and a status that
// tells the kind of fault; runaway guests are stopped by the limits.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "case_name.h"
#include "guest_runner.h"
#include "support/unique_fd.h"

namespace kiv::test {
namespace {

struct Misdeed {
    const char *name;
    int exit_code;
    const char *report;    // must appear in the message
    const char *function;  // the code named after the EIP, nullptr when none
    const char *site;      // fx_fault's label on the faulting instruction, nullptr when none
    // Where fx_fault's printed address ("site N") must appear in the report.
    enum class Printed { None, Eip, Address, EipAndAddress } printed = Printed::None;
};
using Printed = Misdeed::Printed;

// Each site follows other instructions of its block, so only the report of
// the instruction itself names it.
const Misdeed kMisdeeds[] = {
    {"hlt", 139, "general protection fault", "privileged", "hlt"},
    {"cli", 139, "general protection fault", "interrupts_off", "cli"},
    {"in", 139, "port I/O is privileged", "port_io", "in"},
    {"null-read", 139, "read from unmapped memory) at eip 0x4", "null_read", "null_read"},
    {"null-write", 139, "write to unmapped memory) at eip 0x4", "null_write", "null_write"},
    {"divide", 136, "divide error at eip 0x4", "divide", "divide"},
    {"ud2", 132, "invalid instruction at eip 0x4", "undefined", "ud2"},
    {"sysenter", 132, "invalid instruction", "fast_system_call", "sysenter"},
    {"syscall", 132, "invalid instruction", "long_mode_system_call", "syscall"},
    {"far-jump-register", 132, "invalid instruction", "far_jump_through_register", "far_jump_register"},
    {"int3", 133, "breakpoint", "breakpoint", "int3"},
    {"int21", 139, "interrupt 33", "other_interrupt", "int21"},
    {"kernel", 139, "address 0xc0000800", "kernel_memory", "kernel"},
    {"kernel-selector", 139, "general protection fault", "kernel_selector", "kernel_selector"},
    {"write-code", 139, "write to read-only memory", "write_code", "write_code"},
    {"exec-data", 139, "execution of non-executable memory", nullptr, nullptr},
    {"exec-mapped-data", 139, "execution of non-executable memory) at eip 0x40000000, address 0x40000000", nullptr,
     nullptr},
    {"jump", 139, "execution of unmapped memory) at eip 0x12345678, address 0x12345678", nullptr, nullptr},
    {"freed-page", 139, "read from unmapped memory) at eip 0x4", "freed_page", "freed_page"},
    {"copy-off-the-page", 139, "write to unmapped memory", "copy_off_the_page", "copy_off_the_page"},
    {"push", 139, "write to unmapped memory", "push_off_the_stack", "push"},
    {"call-null", 139, "execution of unmapped memory) at eip 0x0, address 0x0", nullptr, nullptr},
    // Straight-line code running into a page the program may not execute:
    // what comes before the page runs, and faults where it faults.
    {"divide-before-data", 136, "divide error at eip", nullptr, nullptr, Printed::Eip},
    {"store-before-data", 139, ", address 0x8", nullptr, nullptr, Printed::Eip},
    {"nops-before-data", 139, "execution of non-executable memory) at eip", nullptr, nullptr, Printed::EipAndAddress},
    // A store straddling into a read-only page names the page's first byte.
    {"store-into-read-only", 139, "write to read-only memory", "store_into_read_only", nullptr, Printed::Address},
};

// The address fx_fault printed as "site N", as a report writes it.
std::string printed_site(const std::string &out) {
    constexpr std::string_view kSite = "site ";
    size_t at = out.find(kSite);
    if (at == std::string::npos) return "(no site printed)";
    char hex[16];
    snprintf(hex, sizeof hex, "0x%lx", std::stoul(out.substr(at + kSite.size())));
    return hex;
}

// fx_fault's sites as binutils' nm reads them: "0040005c T fault_site_null_read".
std::map<std::string, std::string> fault_sites() {
    std::map<std::string, std::string> sites;
    std::istringstream symbols(run_command({"nm", guest_program("fx_fault")}).out);
    std::string address, kind, name;
    constexpr std::string_view kPrefix = "fault_site_";
    while (symbols >> address >> kind >> name) {
        if (name.starts_with(kPrefix))
            sites[name.substr(kPrefix.size())] = "0x" + address.substr(address.find_first_not_of('0'));
    }
    return sites;
}

class Faults : public testing::TestWithParam<Misdeed> {};

TEST_P(Faults, StopTheRunWithAReport) {
    const Misdeed &misdeed = GetParam();
    TempDir sandbox;
    RunOptions options;
    options.root = sandbox.path();
    GuestRun run = run_guest(guest_program("fx_fault"), {misdeed.name}, options);
    EXPECT_EQ(run.result.outcome, RunResult::Outcome::Faulted);
    EXPECT_EQ(run.result.exit_code, misdeed.exit_code);
    EXPECT_NE(run.result.message.find(misdeed.report), std::string::npos) << run.result.message;
    bool named = run.result.message.find(" (", run.result.message.find(" at eip ")) != std::string::npos;
    EXPECT_EQ(named, misdeed.function != nullptr) << run.result.message;
    if (misdeed.function != nullptr) {
        EXPECT_NE(run.result.message.find(" (" + std::string(misdeed.function)), std::string::npos)
            << run.result.message;
    }
    if (misdeed.site != nullptr) {
        static const auto sites = fault_sites();
        ASSERT_TRUE(sites.contains(misdeed.site)) << misdeed.site;
        EXPECT_NE(run.result.message.find(" at eip " + sites.at(misdeed.site) + " ("), std::string::npos)
            << run.result.message;
    }
    std::string site = printed_site(run.out);
    if (misdeed.printed == Printed::Eip || misdeed.printed == Printed::EipAndAddress) {
        EXPECT_NE(run.result.message.find(" at eip " + site), std::string::npos) << run.result.message;
    }
    if (misdeed.printed == Printed::Address || misdeed.printed == Printed::EipAndAddress) {
        EXPECT_TRUE(run.result.message.ends_with(", address " + site)) << run.result.message;
    }
    EXPECT_EQ(run.result.message.find('\n'), std::string::npos) << "one line";
    EXPECT_EQ(run.result.message.rfind("kivrun: ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Misdeeds, Faults, testing::ValuesIn(kMisdeeds), kCaseName);

TEST(Faults, ReportTheExactAddress) {
    const std::pair<const char *, const char *> kAddresses[] = {
        {"null-read", ", address 0x0"},
        {"null-write", ", address 0x8"},
        {"freed-page", ", address 0x40001000"},
        // The first byte past the page.
        {"copy-off-the-page", ", address 0x40001000"},
        {"push", ", address 0xfffc"},
    };
    for (const auto &[misdeed, address] : kAddresses) {
        GuestRun run = run_guest(guest_program("fx_fault"), {misdeed});
        EXPECT_TRUE(run.result.message.ends_with(address)) << run.result.message;
    }
}

// The registers, then a backtrace whose first frame is the faulting code
// and whose last is the start-up code that called main, then the end.
TEST(Faults, TraceEndsWithRegistersBacktraceAndSignal) {
    GuestRun run = run_guest(guest_program("fx_fault"), {"divide"});
    auto lines = run.trace_lines();
    auto fault = std::find_if(lines.begin(), lines.end(), [](auto &l) { return l.starts_with("--- fault: "); });
    ASSERT_GE(lines.end() - fault, 4) << run.trace;
    EXPECT_TRUE(fault[0].starts_with("--- fault: divide error; eax=")) << run.trace;
    EXPECT_TRUE(fault[1].starts_with("--- #0 0x4") && fault[1].find(" (divide+0x") != std::string::npos) << run.trace;
    EXPECT_NE(lines.end()[-2].find(" (_start+0x"), std::string::npos) << run.trace;
    EXPECT_EQ(lines.back(), "+++ killed by SIGFPE +++");
}

TEST(Faults, ReloadingTheProgramsOwnSelectorsIsNone) {
    GuestRun run = run_guest(guest_program("fx_fault"), {"own-selectors"});
    EXPECT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
    EXPECT_EQ(run.out, "reloaded\n");
}

TEST(Faults, UnknownCallAnswersMinusOneAndTheRunGoesOn) {
    GuestRun run = run_guest(guest_program("fx_fault"), {"unknown-call"});
    EXPECT_EQ(run.result.outcome, RunResult::Outcome::Exited);
    EXPECT_EQ(run.out, "-1\n");
    ASSERT_FALSE(run.trace_lines().empty());
    EXPECT_EQ(run.trace_lines()[0], "syscall_77(0x1, 0x2, 0x3) = -1 (unknown system call)");
}

struct Limit {
    const char *name;
    void (*set)(RunOptions &);
    const char *report;
    const char *ending;  // the trace's last line
};

const Limit kLimits[] = {
    {"time", [](RunOptions &o) { o.settings.timeout_seconds = 0.2; }, "time limit of 0.2 s",
     "+++ stopped by the time limit +++"},
    {"blocks", [](RunOptions &o) { o.settings.block_limit = 50000; }, "50000 executed blocks",
     "+++ stopped by the block limit +++"},
};

class Runaways : public testing::TestWithParam<Limit> {};

TEST_P(Runaways, AreStoppedByTheLimit) {
    RunOptions options;
    GetParam().set(options);
    GuestRun run = run_guest(guest_program("fx_fault"), {"spin"}, options);
    EXPECT_EQ(run.result.outcome, RunResult::Outcome::Stopped);
    EXPECT_EQ(run.result.exit_code, kExitStopped);
    EXPECT_NE(run.result.message.find(GetParam().report), std::string::npos) << run.result.message;
    EXPECT_EQ(run.trace, std::string(GetParam().ending) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Limits, Runaways, testing::ValuesIn(kLimits), kCaseName);

// Limits that end a run at every stage of its set-up (the emulator's first
// map, the loader, a child's start): each run ends with 124, never with a
// crash, a hang or the program's own end. The limits are drawn uniformly,
// from a seed the failure names.
struct ShortLimit {
    const char *name;
    std::vector<std::string> program;  // a guest program (under the guest build), then its arguments
    double shortest, longest;          // seconds
    int runs;
};

const ShortLimit kShortLimits[] = {
    {"spinning", {"tests/fx_fault", "spin"}, 10e-6, 1e-3, 200},
    {"already_passed", {"cmd/nicsounder"}, 1e-300, 1e-300, 20},
    {"spawned_child_starting", {"tests/fx_spawn", "time-limit"}, 2e-3, 40e-3, 20},
};

class ShortLimits : public testing::TestWithParam<ShortLimit> {};

// The longest limit drawn is a small fraction of a second.
constexpr Seconds kShortRunTime{3};

TEST_P(ShortLimits, EndEveryRunWith124) {
    const ShortLimit &limit = GetParam();
    TempDir sandbox;
    std::filesystem::path program = std::filesystem::path(KIV_GUEST_DIR) / limit.program[0];
    std::filesystem::copy_file(program, sandbox / program.filename());
    unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> seconds(limit.shortest, limit.longest);
    for (int run = 0; run < limit.runs; run++) {
        char timeout[32];
        snprintf(timeout, sizeof timeout, "%.9g", seconds(random));
        std::vector<std::string> argv{KIVRUN_PATH, "--root", sandbox.path().string(),
                                      "-T",        timeout,  sandbox / program.filename()};
        argv.insert(argv.end(), limit.program.begin() + 1, limit.program.end());
        CommandRun result = run_command(argv, {.time = kShortRunTime});
        ASSERT_EQ(result.status, kExitStopped) << "-T " << timeout << " (seed " << seed << ")\n"
                                               << result.out << result.err;
        ASSERT_EQ(result.out, "") << "-T " << timeout;
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, ShortLimits, testing::ValuesIn(kShortLimits), kCaseName);

struct Blocked {
    const char *program;
    const char *name;  // the fixture's scenario
};

const Blocked kBlocked[] = {
    {"fx_wrappers", "sleeping"},  {"fx_wrappers", "descriptors"}, {"fx_fault", "fill-own-pipe"},
    {"fx_fault", "fill-console"}, {"fx_fault", "open-fifo"},      {"fx_fault", "stream-fifo"},
};

class BlockedInTheHost : public testing::TestWithParam<Blocked> {};

// The console is a pair of pipes nobody else reads or writes.
TEST_P(BlockedInTheHost, IsStoppedByTheTimeLimit) {
    int input[2], output[2];
    ASSERT_EQ(pipe(input), 0);
    ASSERT_EQ(pipe(output), 0);
    TempDir sandbox;
    RunOptions options;
    options.root = sandbox.path();
    options.settings.timeout_seconds = 0.1;
    options.console_in = input[0];
    options.console_out = output[1];
    RunResult result = run_program(guest_program(GetParam().program), {GetParam().program, GetParam().name}, options);
    EXPECT_EQ(result.outcome, RunResult::Outcome::Stopped) << result.message;
    for (int fd : {input[0], input[1], output[0], output[1]}) close(fd);
}

INSTANTIATE_TEST_SUITE_P(Calls, BlockedInTheHost, testing::ValuesIn(kBlocked), kCaseName);

}  // namespace
}  // namespace kiv::test
