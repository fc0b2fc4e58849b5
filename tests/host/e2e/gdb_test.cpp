// kivrun --gdb as a debugger user meets it: Debian's gdb, given only the
// program and `target remote`, breaks, reads, steps, watches, sees faults
// and exits with the right signals; a broken or hostile peer never hangs or
// crashes the run.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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
    std::string output;                 // in the program's output
    int status;                         // kivrun's
};

const Session kSessions[] = {
    {"break_and_read",
     "fixed_hello",
     {},
     {"break main", "continue", "print g_expected_length", "info registers eip", "continue"},
     {"Breakpoint 1, ", "main () at", "$1 = 17", "eip            0x", "<main", "exited normally"},
     "hello from kivos\n",
     0},
    {"step_a_line",
     "fixed_hello",
     {},
     {"break main", "continue", "next"},
     {"Breakpoint 1, ", "return g_written == g_expected_length"},
     "hello from kivos\n",
     0},
    {"step_instructions",
     "fixed_hello",
     {},
     {"print $pc == _start", "stepi", "print $pc == _start"},
     {"$1 = true", "$2 = false"},
     "",
     0},
    {"hardware_breakpoint",
     "fx_args",
     {"3"},
     {"hbreak main", "continue", "print argc", "continue"},
     {"Hardware assisted breakpoint 1", "$1 = 2", "exited with code 03"},
     "",
     3},
    {"watch_a_write",
     "fixed_hello",
     {},
     {"break main", "continue", "watch g_written", "continue", "continue"},
     {"Hardware watchpoint 2: ", "Old value = 0", "New value = 17", "exited normally"},
     "",
     0},
    // main reads the length twice: each read stops once, after the reading
    // instruction.
    {"watch_a_read",
     "fixed_hello",
     {},
     {"break main", "continue", "rwatch g_expected_length", "continue", "continue", "continue"},
     {"Hardware read watchpoint 2", "Value = 17", "fixed_hello.cpp:15", "Value = 17", "fixed_hello.cpp:17",
      "exited normally"},
     "hello from kivos\n",
     0},
    {"fault",
     "fx_fault",
     {"null-write"},
     {"continue", "backtrace", "continue"},
     {"SIGSEGV", "null_write", "terminated with signal SIGSEGV"},
     "",
     139},
    {"fault_siginfo",
     "fx_fault",
     {"null-write"},
     {"continue", "print $_siginfo.si_signo", "print $_siginfo.si_code", "print $_siginfo._sifields._sigfault.si_addr"},
     {"SIGSEGV", "$1 = 11", "$2 = 1", "$3 = (void *) 0x8"},
     "",
     139},
    {"fault_siginfo_address",
     "fx_fault",
     {"divide"},
     {"continue", "print $_siginfo.si_signo", "print $_siginfo._sifields._sigfault.si_addr == $pc"},
     {"SIGFPE", "$1 = 8", "$2 = true"},
     "",
     136},
    {"invalid_instruction", "fx_fault", {"ud2"}, {"continue"}, {"SIGILL"}, "", 132},
    {"divide_error", "fx_fault", {"divide"}, {"continue"}, {"SIGFPE"}, "", 136},
    {"write_memory",
     "fx_args",
     {"3"},
     {"break main", "continue", "set var argc = 1", "continue"},
     {"exited normally"},
     "argc=1\n",
     0},
    {"kill", "fixed_hello", {}, {"kill"}, {"killed"}, "", 137},
    {"detach", "fx_args", {"9"}, {"detach"}, {"detached"}, "argc=2\n", 9},
};

class GdbSessions : public testing::TestWithParam<Session> {};

TEST_P(GdbSessions, DriveTheProgram) {
    const Session &session = GetParam();
    DebuggedRun run(guest_program(session.program), session.args);
    ASSERT_NE(run.port(), 0) << run.finish().err;
    CommandRun debugger = run_gdb(run.port(), session.commands, guest_program(session.program));
    CommandRun kivrun = run.finish();
    std::string transcript = debugger.out + debugger.err;
    ASSERT_TRUE(appears_in_order(transcript, session.expected));
    EXPECT_EQ(transcript.find("architecture"), std::string::npos) << transcript;
    EXPECT_NE(kivrun.out.find(session.output), std::string::npos) << kivrun.out;
    EXPECT_EQ(kivrun.status, session.status) << kivrun.err;
}

INSTANTIATE_TEST_SUITE_P(Sessions, GdbSessions, testing::ValuesIn(kSessions), kCaseName);

// A peer speaking the remote protocol by hand.
class RawPeer {
public:
    explicit RawPeer(int port) : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(socket_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~RawPeer() { hang_up(); }

    bool connected() const { return connected_; }
    void send(const std::string &bytes) { (void)!::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    void hang_up() {
        if (socket_ >= 0) ::close(socket_);
        socket_ = -1;
    }
    // Whole packets (and the acknowledgements between them) up to the one
    // holding `text`; less when the peer falls silent for 10 s.
    std::string receive_through(const std::string &text) {
        std::string got;
        while (got.find(text) == std::string::npos) {
            size_t start = buffer_.find('$');
            size_t end = start == std::string::npos ? start : buffer_.find('#', start);
            if (end != std::string::npos && buffer_.size() >= end + 3) {
                got += buffer_.substr(0, end + 3);
                buffer_.erase(0, end + 3);
            } else if (!fill()) {
                return got + buffer_;
            }
        }
        return got;
    }

private:
    bool fill() {
        char chunk[4096];
        pollfd ready{socket_, POLLIN, 0};
        if (poll(&ready, 1, 10000) != 1) return false;
        ssize_t got = ::recv(socket_, chunk, sizeof chunk, 0);
        if (got <= 0) return false;
        buffer_.append(chunk, static_cast<size_t>(got));
        return true;
    }

    int socket_;
    bool connected_ = false;
    std::string buffer_;
};

std::string packet(const std::string &payload) {
    unsigned sum = 0;
    for (char c : payload) sum += static_cast<unsigned char>(c);
    char checksum[4];
    snprintf(checksum, sizeof checksum, "%02x", sum & 0xff);
    return "$" + payload + "#" + checksum;
}

struct Exchange {
    const char *name;
    std::string sent;
    std::string reply;  // the start of what comes back
};

// What the stub answers with the real target's view of the program:
// memory outside the guest's mappings and segment registers are refused.
const Exchange kExchanges[] = {
    {"unmapped_read", packet("m0,4"), "+$E14#"},
    {"kernel_read", packet("mc0000000,4"), "+$E14#"},
    {"read_wrapping_past_4g", packet("mfffffffe,4"), "+$E14#"},
    {"write_to_unmapped", packet("M10,2:abcd"), "+$E14#"},
    {"segment_register_change", packet("P0a=00000000"), "+$E01#"},
};

class HostilePeers : public testing::TestWithParam<Exchange> {};

TEST_P(HostilePeers, GetAnAnswerAndTheSessionGoesOn) {
    DebuggedRun run(guest_program("fx_args"), {"4"});
    RawPeer peer(run.port());
    ASSERT_TRUE(peer.connected());
    peer.send(GetParam().sent);
    peer.send(packet("qC"));
    std::string reply = peer.receive_through("$QC1#");
    EXPECT_EQ(reply.rfind(GetParam().reply, 0), 0u) << reply.substr(0, 200);
    EXPECT_LE(reply.size(), 0x4000u + 32);
    peer.send(packet("c"));
    EXPECT_NE(peer.receive_through("$W04#").find("$W04#"), std::string::npos);
    EXPECT_EQ(run.finish().status, 4);
}

INSTANTIATE_TEST_SUITE_P(Exchanges, HostilePeers, testing::ValuesIn(kExchanges), kCaseName);

struct HangUp {
    const char *name;
    std::string last_words;  // sent just before the connection closes
};

const HangUp kHangUps[] = {
    {"while_stopped", ""},
    {"inside_a_packet", "$m4000"},
    {"while_running", packet("c")},
};

class HangUps : public testing::TestWithParam<HangUp> {};

TEST_P(HangUps, EndTheRunWithAReport) {
    DebuggedRun run(guest_program("fx_fault"), {"spin"});
    {
        RawPeer peer(run.port());
        ASSERT_TRUE(peer.connected());
        peer.send(GetParam().last_words);
    }
    CommandRun kivrun = run.finish();
    EXPECT_EQ(kivrun.status, kExitHostError);
    EXPECT_NE(kivrun.err.find("the debugger disconnected"), std::string::npos) << kivrun.err;
}

INSTANTIATE_TEST_SUITE_P(HangUps, HangUps, testing::ValuesIn(kHangUps), kCaseName);

// A peer that falls silent (or keeps asking) cannot keep the run past its
// time limit: gdb hears that the program was killed, and the run ends as
// stopped by the limit.
struct IdlePeer {
    const char *name;
    std::string before;  // sent before the silence, answered with one stop reply
    bool keeps_asking;   // then one status request after another instead of silence
};

const IdlePeer kIdlePeers[] = {
    {"stopped_at_the_start", "", false},
    {"stopped_while_running", packet("c") + "\x03", false},
    {"asking_without_end", "", true},
};

class IdlePeers : public testing::TestWithParam<IdlePeer> {};

TEST_P(IdlePeers, AreToldTheProgramWasKilledAtTheTimeLimit) {
    DebuggedRun run(guest_program("fx_fault"), {"spin"}, {"--timeout", "1"});
    RawPeer peer(run.port());
    ASSERT_TRUE(peer.connected());
    if (!GetParam().before.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // let it run a while
        peer.send(GetParam().before);
        EXPECT_NE(peer.receive_through("$T02").find("$T02"), std::string::npos);
    }
    std::string reply;
    do {
        if (GetParam().keeps_asking) peer.send(packet("?"));
        reply = peer.receive_through("#");
    } while (GetParam().keeps_asking && reply.find('$') != std::string::npos && reply.find("$X") == std::string::npos);
    EXPECT_NE(reply.find("$X09#"), std::string::npos) << reply;
    CommandRun kivrun = run.finish();
    EXPECT_EQ(kivrun.status, kExitStopped) << kivrun.err;
    EXPECT_NE(kivrun.err.find("stopped after the time limit of 1 s"), std::string::npos) << kivrun.err;
}

INSTANTIATE_TEST_SUITE_P(IdlePeers, IdlePeers, testing::ValuesIn(kIdlePeers), kCaseName);

uint32_t interrupt_and_read_eip(RawPeer &peer) {
    peer.send(packet("c"));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // let it run a while
    peer.send("\x03");
    EXPECT_NE(peer.receive_through("$T02thread:1;#").find("$T02"), std::string::npos);
    peer.send(packet("p8"));
    std::string eip = peer.receive_through("#");
    if (eip.size() != 13u) {  // +$ 8 hex digits #xx
        ADD_FAILURE() << eip;
        return 0;
    }
    return __builtin_bswap32(static_cast<uint32_t>(std::stoul(eip.substr(2, 8), nullptr, 16)));
}

// Ctrl-C stops a program spinning in code already translated; a breakpoint
// set there afterwards takes effect at once.
TEST(GdbInterrupt, StopsARunningProgramAndBreakpointsReachRunCode) {
    DebuggedRun run(guest_program("fx_fault"), {"spin"});
    RawPeer peer(run.port());
    ASSERT_TRUE(peer.connected());
    // The first interrupt may land before the program reaches its loop; two
    // stops at one address mean it is spinning there.
    uint32_t address = interrupt_and_read_eip(peer);
    for (int tries = 0; tries < 100; ++tries) {
        uint32_t again = interrupt_and_read_eip(peer);
        if (again == address) break;
        address = again;
    }
    ASSERT_NE(address, 0u);
    char breakpoint[32];
    snprintf(breakpoint, sizeof breakpoint, "Z0,%x,1", address);
    peer.send(packet(breakpoint));
    EXPECT_NE(peer.receive_through("$OK#").find("$OK#"), std::string::npos);
    peer.send(packet("c"));
    EXPECT_NE(peer.receive_through("$T05").find("$T05thread:1;swbreak:;#"), std::string::npos);
    peer.send(packet("k"));
    EXPECT_EQ(run.finish().status, 128 + SIGKILL);
}

}  // namespace
}  // namespace kiv::test
