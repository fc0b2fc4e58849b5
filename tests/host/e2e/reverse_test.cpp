// gdb's reverse execution against a replayed run, as a debugger user meets
// it: Debian's gdb steps, nexts, finishes and continues backwards to
// breakpoints and to the last write a watchpoint sees, and runs forward
// again from wherever it went back to.
#include <gtest/gtest.h>

#include "case_name.h"
#include "guest_runner.h"

namespace kiv::test {
namespace {

struct Session {
    const char *name;
    const char *program;
    std::vector<std::string> args;
    std::vector<std::string> commands;  // after `target remote`
    std::vector<std::string> expected;  // in gdb's output, in this order
};

// fx_reverse's total is 1, 5, 14, 30 and 55 after each round of its loop.
const Session kSessions[] = {
    {"reverse_stepi_undoes_stepi",
     "fx_reverse",
     {},
     {"break report", "continue", "set $here = $pc", "set $stack = $sp", "stepi", "stepi", "stepi", "reverse-stepi",
      "reverse-stepi", "reverse-stepi", "print $pc == $here", "print $sp == $stack", "continue"},
     {"Breakpoint 1, ", "$1 = true", "$2 = true", "exited normally"}},
    {"reverse_continue_to_the_last_write",
     "fx_reverse",
     {},
     {"break report", "continue", "watch g_total", "reverse-continue", "print i", "reverse-continue", "continue",
      "print g_total"},
     {"Breakpoint 1, ", "Old value = 55", "New value = 30", "$1 = 5", "Old value = 30", "New value = 14",
      "Old value = 14", "New value = 30", "$2 = 30"}},
    {"reverse_continue_to_a_breakpoint",
     "fx_reverse",
     {},
     {"break square", "continue", "continue", "continue", "print x", "reverse-continue", "print x", "continue",
      "print x"},
     {"$1 = 3", "Breakpoint 1, ", "$2 = 2", "$3 = 3"}},
    {"reverse_finish_returns_to_the_call",
     "fx_reverse",
     {},
     {"break square", "continue", "continue", "reverse-finish", "print i", "print $pc < square || $pc > report"},
     {"Breakpoint 1, ", "x=2", "main (", "square(i);", "$1 = 2", "$2 = true"}},
    {"reverse_next_steps_back_over_calls",
     "fx_reverse",
     {},
     {"tbreak report", "continue", "finish", "print g_report", "reverse-next", "print g_report", "reverse-next",
      "print g_total"},
     {"$1 = 55", "report(g_total);", "$2 = 0", "spin(rounds);", "$3 = 55"}},
    {"reverse_step_enters_the_call_before",
     "fx_reverse",
     {},
     {"break square", "continue", "finish", "next", "reverse-step", "reverse-step", "print x"},
     {"Value returned is $1 = 1", "g_total = g_total + squared;", "return result;", "$2 = 1"}},
    {"reverse_continue_stops_at_the_start",
     "fx_reverse",
     {},
     {"break report", "continue", "delete", "reverse-continue", "print $pc == _start", "continue"},
     {"No more reverse-execution history.", "$1 = true", "exited normally"}},
    // A million rounds take two checkpoints and more.
    {"back_across_checkpoints",
     "fx_reverse",
     {"1000000"},
     {"break spin", "break report", "continue", "continue", "reverse-continue", "print rounds", "reverse-stepi",
      "continue", "continue", "print g_spun"},
     {"Breakpoint 2, ", "Breakpoint 1, ", "$1 = 1000000", "Breakpoint 1, ", "Breakpoint 2, ", "$2 = 999999"}},
    {"watch_across_checkpoints",
     "fx_reverse",
     {"1000000"},
     {"break report", "continue", "watch g_spun", "reverse-continue", "print round"},
     {"Breakpoint 1, ", "Old value = 999999", "New value = 999998", "$1 = 999999"}},
    {"back_from_a_fault",
     "fx_reverse",
     {"0", "fault"},
     {"continue", "set $fault = $pc", "reverse-stepi", "print $pc != $fault", "stepi", "print $pc == $fault",
      "continue"},
     {"SIGSEGV", "$1 = true", "$2 = true", "SIGSEGV"}},
};

class ReverseSessions : public testing::TestWithParam<Session> {};

// The run is recorded, then replayed under gdb: going back runs parts of it
// again, which must neither change nor repeat its output.
TEST_P(ReverseSessions, DriveTheProgramBack) {
    const Session &session = GetParam();
    std::string program = guest_program(session.program);
    TempDir directory;
    std::vector<std::string> record{"--record", directory / "run", program};
    record.insert(record.end(), session.args.begin(), session.args.end());
    CommandRun recorded = run_kivrun(record);
    DebuggedRun run(program, session.args, {"--replay", directory / "run"});
    ASSERT_NE(run.port(), 0) << run.finish().err;
    CommandRun debugger = run_gdb(run.port(), session.commands, program);
    CommandRun replayed = run.finish();
    std::string transcript = debugger.out + debugger.err;
    ASSERT_TRUE(appears_in_order(transcript, session.expected));
    EXPECT_EQ(transcript.find("Target remote does not support"), std::string::npos) << transcript;
    EXPECT_EQ(replayed.out, recorded.out);
    EXPECT_EQ(replayed.status, recorded.status) << replayed.err;
}

INSTANTIATE_TEST_SUITE_P(Sessions, ReverseSessions, testing::ValuesIn(kSessions), kCaseName);

// A run that is not a replay would meet the host again when repeated: gdb
// is not offered to go back.
TEST(ReverseExecution, NeedsAReplay) {
    DebuggedRun run(guest_program("fx_reverse"), {});
    ASSERT_NE(run.port(), 0) << run.finish().err;
    CommandRun debugger = run_gdb(run.port(), {"reverse-stepi"}, guest_program("fx_reverse"));
    run.finish();
    EXPECT_NE((debugger.out + debugger.err).find("Target remote does not support this command."), std::string::npos)
        << debugger.out << debugger.err;
}

}  // namespace
}  // namespace kiv::test
