// The gdb stub's packet layer against a fake target, with no process and no
// socket: framing, checksums and escapes, the answers to register, memory,
// breakpoint and resumption packets, and the error replies to what is
// malformed or refused.
#include <gtest/gtest.h>

#include <cstdio>

#include "case_name.h"
#include "fake_debug_target.h"
#include "support/hex.h"

namespace kiv::test {
namespace {

std::string packet(std::string_view payload) {
    uint8_t sum = 0;
    for (char c : payload) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    return "$" + std::string(payload) + "#" + hex_byte(sum);
}

// What the stub sends back for `input`, on the target as the test left it.
std::string serve(const std::string &input, FakeTarget &target) {
    MemoryChannel channel(input);
    serve_gdb(channel, target);
    return channel.sent();
}

// The request packets one after the other, each acknowledged and answered.
struct Dialogue {
    const char *name;
    std::vector<std::pair<std::string, std::string>> turns;  // payload sent, payload answered
    bool has_history = false;                                // the target can run backwards
};

const std::string kSiginfoRead = "qXfer:siginfo:read::0,80";

const Dialogue kDialogues[] = {
    {"thread_queries", {{"qC", "QC1"}, {"qAttached", "1"}, {"qfThreadInfo", "m1"}, {"qsThreadInfo", "l"}}},
    {"supported_features",
     {{"qSupported:multiprocess+;swbreak+",
       "PacketSize=4000;qXfer:features:read+;qXfer:siginfo:read+;swbreak+;hwbreak+;vContSupported+"}}},
    {"unknown_packet_is_empty", {{"qNothingLikeThis", ""}}},
    {"first_stop_is_a_trap", {{"?", "T05thread:1;"}}},
    {"memory_written_reads_back", {{"M400010,3:a1b2c3", "OK"}, {"m40000f,5", "00a1b2c300"}}},
    // '}' escapes the next byte XOR 0x20: '#', '$', '}' and '*' arrive this way.
    {"binary_write_unescapes", {{"X400000,4:}\x03}\x04}]}\x0a", "OK"}, {"m400000,4", "23247d2a"}}},
    {"register_written_reads_back", {{"P8=78563412", "OK"}, {"p8", "78563412"}}},
    {"unknown_register", {{"p99", "E01"}}},
    {"register_value_of_the_wrong_size", {{"P8=7856", "E01"}}},
    {"unmapped_read", {{"m0,4", "E14"}}},
    {"address_above_32_bits", {{"m100000000,4", "E01"}}},
    {"read_wrapping_past_4g", {{"mfffffffe,4", "E14"}}},
    {"read_past_the_end", {{"m401ffe,4", "E14"}}},
    {"malformed_read", {{"mzz", "E01"}, {"m400000", "E01"}, {"m,4", "E01"}}},
    {"write_to_unmapped", {{"M10,2:abcd", "E14"}}},
    {"short_write_data", {{"M400000,4:ab", "E01"}}},
    {"odd_hex_in_write", {{"M400000,1:abc", "E01"}}},
    {"breakpoints_set_and_cleared",
     {{"Z0,400010,1", "OK"},
      {"Z1,400020,1", "OK"},
      {"z0,400010,1", "OK"},
      {"z0,400010,1", "E01"},
      {"z1,400020,1", "OK"}}},
    {"watchpoints_set_and_cleared",
     {{"Z2,400000,4", "OK"}, {"Z3,400000,4", "OK"}, {"Z4,400100,2", "OK"}, {"z2,400000,4", "OK"}, {"Z2,0,4", "E01"}}},
    {"unknown_point_type", {{"Z9,400000,1", ""}, {"Zx", "E01"}}},
    {"resume_actions", {{"vCont?", "vCont;c;C;s;S"}, {"vCont;s:1", "T05thread:1;"}, {"vCont;t", ""}}},
    {"continue_to_each_stop",
     {{"c", "T05thread:1;hwbreak:;"}, {"c", "T05thread:1;awatch:400002;"}, {"c", "T02thread:1;"}}},
    {"continue_at_an_address", {{"c400abc", "T05thread:1;hwbreak:;"}}},
    {"target_description_is_read_in_pieces", {{"qXfer:features:read:target.xml:0,5", "m<?xml"}}},
    {"unknown_annex", {{"qXfer:features:read:other.xml:0,fff", "E00"}, {"qXfer:siginfo:read:x:0,80", "E00"}}},
    {"no_siginfo_before_a_fault", {{kSiginfoRead, "E14"}}},
    {"detach", {{"D", "OK"}}},
    {"no_reverse_without_history", {{"bs", ""}, {"bc", ""}}},
    {"reverse_features",
     {{"qSupported:multiprocess+;swbreak+",
       "PacketSize=4000;qXfer:features:read+;qXfer:siginfo:read+;swbreak+;hwbreak+;vContSupported+;"
       "ReverseStep+;ReverseContinue+"}},
     true},
    {"reverse_step_then_back_to_the_start", {{"bs", "T05thread:1;"}, {"bc", "T05thread:1;replaylog:begin;"}}, true},
    // A fault cannot be gone past, but it can be gone back from.
    {"reverse_after_a_fault",
     {{"c", "T05thread:1;hwbreak:;"},
      {"c", "T05thread:1;awatch:400002;"},
      {"c", "T02thread:1;"},
      {"c", "T0bthread:1;"},
      {"bs", "T05thread:1;"},
      {"c", "T05thread:1;"}},
     true},
};

class PacketDialogues : public testing::TestWithParam<Dialogue> {};

TEST_P(PacketDialogues, AreAnsweredInTurn) {
    std::string input, expected;
    for (const auto &[request, reply] : GetParam().turns) {
        input += packet(request);
        expected += "+" + packet(reply);
    }
    FakeTarget target;
    target.has_history = GetParam().has_history;
    EXPECT_EQ(serve(input, target), expected);
}

INSTANTIATE_TEST_SUITE_P(Turns, PacketDialogues, testing::ValuesIn(kDialogues), kCaseName);

// Bytes that are not one intact packet.
struct Framing {
    const char *name;
    std::string input;
    std::string reply;  // everything the stub sends
};

const Framing kFramings[] = {
    {"bad_checksum_is_refused", "$g#00", "-"},
    {"checksum_not_hex", "$qC#g0", "-"},
    {"bad_checksum_then_the_resent_packet", "$qC#00" + packet("qC"), "-+" + packet("QC1")},
    {"garbage_before_a_packet", "xyz+" + packet("qC"), "+" + packet("QC1")},
    {"oversized_packet", packet("M400000,1:" + std::string(70000, '0')), "+" + packet("E01")},
    {"acknowledgements_alone", "+++-", ""},
    {"cut_packet", "$m4000", ""},
};

class PacketFraming : public testing::TestWithParam<Framing> {};

TEST_P(PacketFraming, IsAnsweredOnlyWhenIntact) {
    FakeTarget target;
    EXPECT_EQ(serve(GetParam().input, target), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(Inputs, PacketFraming, testing::ValuesIn(kFramings), kCaseName);

// The payload of the stub's only reply (after its acknowledgement).
std::string only_reply(const std::string &sent) {
    EXPECT_TRUE(sent.starts_with("+$")) << sent.substr(0, 80);
    size_t end = sent.rfind('#');
    return end == std::string::npos ? "" : sent.substr(2, end - 2);
}

TEST(GdbPackets, AHugeReadIsCutToFitOnePacket) {
    FakeTarget target;
    std::string reply = only_reply(serve(packet("m400000,ffffffff"), target));
    EXPECT_GT(reply.size(), 0u);
    EXPECT_LE(reply.size(), gdb::kMaxPacket);
    EXPECT_EQ(reply.find_first_not_of('0'), std::string::npos);
}

TEST(GdbPackets, AllRegistersReadAndWriteInOnePacket) {
    FakeTarget target;
    std::string all = only_reply(serve(packet("g"), target));
    ASSERT_FALSE(all.empty());
    std::string changed(all.size(), '0');
    changed.replace(8 * 8, 8, "efbeadde");  // eip, the ninth 32-bit register
    std::string sent = serve(packet("G" + changed) + packet("p8"), target);
    EXPECT_EQ(sent, "+" + packet("OK") + "+" + packet("efbeadde"));
    EXPECT_EQ(target.registers[8][0], 0xef);
}

TEST(GdbPackets, ZPacketsReachTheTarget) {
    FakeTarget target;
    serve(packet("Z0,400010,1") + packet("Z1,400020,1") + packet("Z3,400100,4") + packet("z0,400010,1"), target);
    EXPECT_EQ(target.breakpoints, (std::set<std::pair<BreakKind, uint32_t>>{{BreakKind::Hardware, 0x400020}}));
    EXPECT_EQ(target.watchpoints, (std::set<FakeTarget::Watchpoint>{{WatchKind::Read, 0x400100, 4}}));
}

TEST(GdbPackets, ResumptionsStepOrContinueAsAsked) {
    FakeTarget target;
    serve(packet("s") + packet("c") + packet("vCont;s:1") + packet("S05") + packet("vCont;c") + packet("C05"), target);
    EXPECT_EQ(target.steps, (std::vector<bool>{true, false, true, true, false, false}));
}

TEST(GdbPackets, ReversalsStepOrContinueAsAsked) {
    FakeTarget target;
    target.has_history = true;
    serve(packet("bs") + packet("bc") + packet("bs"), target);
    EXPECT_EQ(target.reversals, (std::vector<bool>{true, false, true}));
    EXPECT_TRUE(target.steps.empty());
}

// A fault's details reach gdb as Linux's siginfo_t: si_signo, si_code and
// si_addr at their offsets; the program cannot be continued past it.
TEST(GdbPackets, AFaultShowsAsSiginfo) {
    FakeTarget target;
    target.planned.push_back({.kind = DebugStop::Kind::Fault, .signal = 11, .data_address = 0x8, .signal_code = 1});
    std::string sent = serve(packet("c") + packet(kSiginfoRead) + packet("c"), target);
    ASSERT_TRUE(sent.starts_with("+" + packet("T0bthread:1;") + "+$l")) << sent;
    std::string siginfo = sent.substr(sent.find("$l") + 2, 128);
    ASSERT_EQ(siginfo.size(), 128u);
    auto word = [&siginfo](size_t offset) {
        uint32_t value = 0;
        for (size_t i = 0; i < 4; i++) value |= uint32_t{static_cast<uint8_t>(siginfo[offset + i])} << (8 * i);
        return value;
    };
    EXPECT_EQ(word(0), 11u);  // si_signo
    EXPECT_EQ(word(8), 1u);   // si_code: SEGV_MAPERR
    EXPECT_EQ(word(12), 8u);  // si_addr
    EXPECT_TRUE(sent.ends_with("+" + packet("X0b"))) << sent;
    EXPECT_EQ(target.steps.size(), 1u);
}

TEST(GdbPackets, TheSessionEndsWithTheProgram) {
    FakeTarget target;
    target.planned.push_back({.kind = DebugStop::Kind::Exited, .status = 4});
    MemoryChannel channel(packet("c") + packet("qC"));
    EXPECT_EQ(serve_gdb(channel, target), SessionEnd::ProgramEnded);
    EXPECT_EQ(channel.sent(), "+" + packet("W04"));
}

TEST(GdbPackets, KillEndsTheSessionWithoutAReply) {
    FakeTarget target;
    MemoryChannel channel(packet("k") + packet("qC"));
    EXPECT_EQ(serve_gdb(channel, target), SessionEnd::Killed);
    EXPECT_EQ(channel.sent(), "+");
}

}  // namespace
}  // namespace kiv::test
