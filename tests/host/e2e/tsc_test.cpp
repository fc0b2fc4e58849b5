// The made-up time-stamp counter: what the guest's rdtsc reads with it
// (both halves, wrapping modulo 2^64).
#include "machine/tsc.h"

#include <gtest/gtest.h>

#include "guest_runner.h"

namespace kiv::test {
namespace {

struct Reads {
    const char *name;
    TscSequence sequence;
    const char *out;  // the fixture's reads, EDX:EAX in hex, one per line
};

const Reads kReads[] = {
    {"across the 32-bit halves",
     {0x1fffffffe, 1},
     "00000001fffffffe\n00000001ffffffff\n0000000200000000\n0000000200000001\n"},
    {"wrapping modulo 2^64",
     {0xffffffffffffff00, 0x80},
     "ffffffffffffff00\nffffffffffffff80\n0000000000000000\n0000000000000080\n"},
    {"standing still",
     {0x123456789abcdef0, 0},
     "123456789abcdef0\n123456789abcdef0\n123456789abcdef0\n123456789abcdef0\n"},
};

TEST(TscRun, EveryReadTakesTheNextValue) {
    for (const auto &reads : kReads) {
        SCOPED_TRACE(reads.name);
        TempDir sandbox;
        RunOptions options;
        options.root = sandbox.path().string();
        options.settings.tsc = reads.sequence;
        GuestRun run = run_guest(guest_program("fx_rdtsc"), {}, options);
        ASSERT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
        EXPECT_EQ(run.out, reads.out);
    }
}

TEST(TscRun, AProgramSpellingRdtscEverywhereIsRefused) {
    RunOptions options;
    options.settings.tsc = TscSequence{};
    GuestRun run = run_guest(guest_program("fx_fault"), {"rdtsc-everywhere"}, options);
    EXPECT_EQ(run.result.exit_code, kExitNotLoadable);
    EXPECT_NE(run.result.message.find("places in its code spell rdtsc"), std::string::npos) << run.result.message;
    // Without --tsc it simply runs.
    EXPECT_EQ(run_guest(guest_program("fx_fault"), {"rdtsc-everywhere"}).result.exit_code, 0);
}

}  // namespace
}  // namespace kiv::test
