// How a fault report names its cause and finds its instruction: the
// exception table, the instruction before a software interrupt's EIP, and
// the first instruction of a kind in a block's code.
#include "machine/fault_decoding.h"

#include <capstone/x86.h>
#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include "case_name.h"

namespace kiv::test {
namespace {

struct Exception {
    const char *name;
    uint32_t vector;
    const char *what;
    int signal;
};

const Exception kExceptions[] = {
    {"divide", 0, "divide error", SIGFPE},
    {"int3", 3, "breakpoint (int3)", SIGTRAP},
    {"invalid", 6, "invalid instruction", SIGILL},
    {"segment", 11, "segment not present", SIGBUS},
    {"protection", 13, "general protection fault (privileged instruction, bad interrupt or selector)", SIGSEGV},
    {"page", 14, "page fault", SIGSEGV},
    {"simd", 19, "SIMD floating-point error", SIGFPE},
    {"nmi_none_of_the_programs", 2, "interrupt 2", SIGSEGV},
    {"software", 0x81, "interrupt 129", SIGSEGV},
};

class Exceptions : public testing::TestWithParam<Exception> {};

TEST_P(Exceptions, NameTheCauseAndTheLinuxSignal) {
    const Exception &c = GetParam();
    constexpr uint32_t kInstruction = 0x8048123;
    Fault fault = interrupt_fault(c.vector, kInstruction);
    EXPECT_EQ(fault.what, c.what);
    EXPECT_EQ(fault.exit_code, kSignalStatusBase + c.signal);
    EXPECT_EQ(fault.eip, kInstruction);
    EXPECT_FALSE(fault.address);
}

INSTANTIATE_TEST_SUITE_P(Vectors, Exceptions, testing::ValuesIn(kExceptions), kCaseName);

struct Raiser {
    const char *name;
    uint32_t vector;
    std::array<uint8_t, 2> before;  // the bytes before EIP
    uint32_t back;                  // how far before EIP the instruction starts
};

const Raiser kRaisers[] = {
    {"int_n", 0x81, {0xcd, 0x81}, 2},
    {"int_3_long_form", 3, {0xcd, 0x03}, 2},
    {"int3", 3, {0x90, 0xcc}, 1},
    {"into", 4, {0x90, 0xce}, 1},
    {"int_of_another_vector", 0x81, {0xcd, 0x80}, 0},
    {"int3_byte_for_into", 4, {0x90, 0xcc}, 0},
    {"nothing_that_raises", 32, {0x90, 0x90}, 0},
};

class Raisers : public testing::TestWithParam<Raiser> {};

TEST_P(Raisers, StartBeforeTheEipTheyLeave) {
    const Raiser &c = GetParam();
    constexpr uint32_t kEip = 0x8049002;
    EXPECT_TRUE(leaves_eip_after(c.vector));
    EXPECT_EQ(interrupt_instruction_start(c.vector, kEip, c.before), kEip - c.back);
}

INSTANTIATE_TEST_SUITE_P(SoftwareInterrupts, Raisers, testing::ValuesIn(kRaisers), kCaseName);

TEST(FaultDecoding, ExceptionsLeaveEipAtTheirInstruction) {
    for (uint32_t vector : {0u, 1u, 6u, 13u, 14u, 31u}) {
        SCOPED_TRACE(vector);
        EXPECT_FALSE(leaves_eip_after(vector));
    }
}

struct Search {
    const char *name;
    std::vector<uint8_t> code;
    unsigned instruction;
    std::optional<uint32_t> offset;  // of the instruction found
};

const Search kSearches[] = {
    {"in_after_others", {0x90, 0x89, 0xc8, 0xe4, 0x10, 0xc3}, X86_INS_IN, 3},
    {"out_first", {0xee, 0x90}, X86_INS_OUT, 0},
    {"sysenter_after_a_long_one", {0xb8, 0x01, 0x00, 0x00, 0x00, 0x0f, 0x34}, X86_INS_SYSENTER, 5},
    {"first_of_two", {0xe4, 0x10, 0xe4, 0x20}, X86_INS_IN, 0},
    // The bytes of in (e4) inside another instruction's immediate are no in.
    {"inside_an_immediate", {0xb8, 0xe4, 0x10, 0x00, 0x00, 0xc3}, X86_INS_IN, std::nullopt},
    {"cut_short", {0x90, 0x0f}, X86_INS_SYSENTER, std::nullopt},
    {"no_code", {}, X86_INS_IN, std::nullopt},
};

class Searches : public testing::TestWithParam<Search> {};

TEST_P(Searches, FindTheFirstInstructionOfTheKind) {
    const Search &c = GetParam();
    constexpr uint32_t kBlock = 0x8048ff0;
    auto found = find_instruction(c.code, kBlock, c.instruction);
    if (c.offset) EXPECT_EQ(found, kBlock + *c.offset);
    else EXPECT_FALSE(found);
}

INSTANTIATE_TEST_SUITE_P(Blocks, Searches, testing::ValuesIn(kSearches), kCaseName);

}  // namespace
}  // namespace kiv::test
