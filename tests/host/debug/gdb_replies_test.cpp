// What the gdb stub says without a session: the stop reply for every kind
// of stop, Linux signals in gdb's numbering, and the socket transport's
// waits for a connection that never comes or cannot listen.
#include "debug/gdb_replies.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

#include "case_name.h"
#include "debug/gdb_socket.h"

namespace kiv::test {
namespace {

using Kind = DebugStop::Kind;

struct StopCase {
    const char *name;
    DebugStop stop;
    const char *reply;
};

DebugStop watch_stop(WatchKind kind, uint32_t address) {
    DebugStop stop{Kind::Watchpoint};
    stop.watch = kind;
    stop.data_address = address;
    return stop;
}

DebugStop hardware_breakpoint() {
    DebugStop stop{Kind::Breakpoint};
    stop.breakpoint = BreakKind::Hardware;
    return stop;
}

const StopCase kStops[] = {
    {"started", {Kind::Started}, "T05thread:1;"},
    {"step", {Kind::Step}, "T05thread:1;"},
    {"software_breakpoint", {Kind::Breakpoint}, "T05thread:1;swbreak:;"},
    {"hardware_breakpoint", hardware_breakpoint(), "T05thread:1;hwbreak:;"},
    {"write_watch", watch_stop(WatchKind::Write, 0x8049abc), "T05thread:1;watch:8049abc;"},
    {"read_watch", watch_stop(WatchKind::Read, 0x10), "T05thread:1;rwatch:10;"},
    {"access_watch", watch_stop(WatchKind::Access, 0xffffffff), "T05thread:1;awatch:ffffffff;"},
    {"interrupted", {Kind::Interrupted}, "T02thread:1;"},
    {"segfault", {Kind::Fault, SIGSEGV}, "T0bthread:1;"},
    {"bus_error", {Kind::Fault, SIGBUS}, "T0athread:1;"},
    {"exit_status_low_byte", {Kind::Exited, 0, 0x1ff}, "Wff"},
    {"exit_zero", {Kind::Exited, 0, 0}, "W00"},
    {"ended_by_a_limit", {Kind::Ended, SIGKILL}, "X09"},
    {"ended_with_a_signal_gdb_cannot_name", {Kind::Ended, SIGUSR1}, "X09"},
};

class StopReplies : public testing::TestWithParam<StopCase> {};

TEST_P(StopReplies, TellGdbWhyTheProgramStopped) { EXPECT_EQ(gdb::stop_reply(GetParam().stop), GetParam().reply); }

INSTANTIATE_TEST_SUITE_P(Stops, StopReplies, testing::ValuesIn(kStops), kCaseName);

TEST(GdbReplies, SignalsTakeGdbsNumbers) {
    const std::pair<int, const char *> kSignals[] = {
        {SIGINT, "02"},  {SIGILL, "04"}, {SIGTRAP, "05"}, {SIGFPE, "08"},
        {SIGKILL, "09"}, {SIGBUS, "0a"}, {SIGSEGV, "0b"}, {SIGPIPE, "09"},
    };
    for (const auto &[linux_signal, text] : kSignals) {
        SCOPED_TRACE(linux_signal);
        EXPECT_EQ(gdb::signal_text(linux_signal), text);
    }
}

void ignore_port(uint16_t) {}

TEST(GdbSocket, AWaitGivenUpIsNoError) {
    UniqueFd cancel(eventfd(1, EFD_CLOEXEC));
    ASSERT_TRUE(cancel.valid());
    std::string error = "untouched";
    EXPECT_FALSE(accept_gdb(0, cancel.get(), ignore_port, error));
    EXPECT_EQ(error, "");
}

TEST(GdbSocket, APortInUseIsNamedInTheError) {
    UniqueFd taken(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(taken.get(), reinterpret_cast<sockaddr *>(&address), size), 0);
    ASSERT_EQ(listen(taken.get(), 1), 0);
    ASSERT_EQ(getsockname(taken.get(), reinterpret_cast<sockaddr *>(&address), &size), 0);
    uint16_t port = ntohs(address.sin_port);

    UniqueFd cancel(eventfd(0, EFD_CLOEXEC));
    std::string error;
    EXPECT_FALSE(accept_gdb(port, cancel.get(), ignore_port, error));
    EXPECT_EQ(error, "cannot listen for gdb on 127.0.0.1:" + std::to_string(port) + ": Address already in use");
}

}  // namespace
}  // namespace kiv::test
