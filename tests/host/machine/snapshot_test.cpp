// A snapshot brings back the registers and every page written after it,
// whether guest stores or system calls wrote them, and does so again and
// again: each restore must start the journal over, or a page written in a
// later round would escape it.
#include "machine/snapshot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "case_name.h"
#include "machine/cpu.h"
#include "machine/guest_memory.h"

namespace kiv::test {
namespace {

constexpr uint32_t kCode = 0x08048000;
constexpr uint32_t kTable = 0x08049000;  // the addresses the code stores to, ending with 0
constexpr uint32_t kData = 0x40000000;   // the pages it may write
constexpr uint32_t kDataPages = 8;
constexpr uint32_t kStack = 0x50000000;
constexpr uint32_t kStored = 0xdeadbeef;
constexpr uint32_t kCalled = 0x5a5a5a5a;  // what the system call writes

enum Call : uint32_t { kCheckpoint = 1, kKernelWrites = 2 };

// checkpoint; for each address in the table: store kStored there; the
// kernel's writes; and again from the top.
constexpr uint8_t kProgram[] = {
    0xb8, kCheckpoint,   0,    0,    0,           // 0:  mov eax, 1
    0xcd, 0x80,                                   // 5:  int 0x80
    0xbe, 0x00,          0x90, 0x04, 0x08,        // 7:  mov esi, kTable
    0x8b, 0x3e,                                   // 12: mov edi, [esi]
    0x85, 0xff,                                   // 14: test edi, edi
    0x74, 0x0b,                                   // 16: jz 29
    0xc7, 0x07,          0xef, 0xbe, 0xad, 0xde,  // 18: mov dword [edi], kStored
    0x83, 0xc6,          0x04,                    // 24: add esi, 4
    0xeb, 0xef,                                   // 27: jmp 12
    0xb8, kKernelWrites, 0,    0,    0,           // 29: mov eax, 2
    0xcd, 0x80,                                   // 34: int 0x80
    0xeb, 0xc8,                                   // 36: jmp 0
};
constexpr uint32_t kAfterCheckpoint = kCode + 7;

uint32_t data_page(uint32_t index) { return kData + index * kPageSize; }

// Every call pauses the CPU; the second kind writes its pages first.
class PausingKernel : public SyscallHandler {
public:
    PausingKernel(Cpu &cpu, GuestMemory &memory, std::vector<uint32_t> pages)
        : cpu_(cpu), memory_(memory), pages_(std::move(pages)) {}
    SyscallResult syscall(const SyscallRegisters &registers) override {
        if (registers.number == kKernelWrites)
            for (uint32_t index : pages_) memory_.write(data_page(index) + 8, &kCalled, sizeof kCalled);
        cpu_.pause();
        return success(0);
    }

private:
    Cpu &cpu_;
    GuestMemory &memory_;
    std::vector<uint32_t> pages_;
};

struct Round {
    const char *name;
    std::vector<uint32_t> stored;  // data pages the code stores to
    std::vector<uint32_t> called;  // data pages the system call writes
    size_t written;                // pages a round writes
};

const Round kRounds[] = {
    {"nothing_written", {}, {}, 0},
    {"one_store", {3}, {}, 1},
    {"stores_to_several_pages", {0, 2, 7}, {}, 3},
    {"a_page_stored_twice", {5, 5}, {}, 1},
    {"a_system_call_alone", {}, {4}, 1},
    {"store_and_call_on_one_page", {1}, {1}, 1},
    {"store_and_call_apart", {6}, {0, 2}, 3},
};

std::vector<uint8_t> data_bytes(const GuestMemory &memory) {
    std::vector<uint8_t> bytes(kDataPages * kPageSize);
    memory.read(kData, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return bytes;
}

class Rounds : public testing::TestWithParam<Round> {};

TEST_P(Rounds, RestoreRegistersAndPages) {
    const Round &round = GetParam();
    Cpu cpu;
    GuestMemory memory(cpu.engine());
    ASSERT_TRUE(memory.map(kCode, kPageSize, kAccessRead | kAccessExec) && memory.map(kTable, kPageSize, kAccessRead) &&
                memory.map(kData, kDataPages * kPageSize, kAccessRead | kAccessWrite) &&
                memory.map(kStack - kPageSize, kPageSize, kAccessRead | kAccessWrite));
    std::vector<uint32_t> table;
    for (uint32_t index : round.stored) table.push_back(data_page(index));
    table.push_back(0);
    ASSERT_TRUE(memory.poke(kCode, kProgram, sizeof kProgram) &&
                memory.poke(kTable, table.data(), static_cast<uint32_t>(table.size() * sizeof(uint32_t))));
    // Something in every page, so that a page restored as zeros shows.
    for (uint32_t index = 0; index < kDataPages; index++) memory.poke(data_page(index) + 8, &index, sizeof index);

    PausingKernel kernel(cpu, memory, round.called);
    ASSERT_FALSE(cpu.start(memory, kernel, kCode, kStack));
    ASSERT_FALSE(cpu.resume());
    ASSERT_EQ(cpu.reg(UC_X86_REG_EIP), kAfterCheckpoint);
    Snapshot snapshot(cpu.engine(), memory);
    ASSERT_TRUE(snapshot.take());
    std::vector<uint8_t> before = data_bytes(memory);
    for (int again = 0; again < 3; again++) {
        ASSERT_FALSE(cpu.resume()) << "round " << again;
        EXPECT_EQ(cpu.reg(UC_X86_REG_ESI), kTable + 4 * round.stored.size()) << "round " << again;
        EXPECT_EQ(snapshot.pages_written(), round.written) << "round " << again;
        if (round.written != 0) {
            EXPECT_NE(data_bytes(memory), before) << "round " << again;
        }
        ASSERT_TRUE(snapshot.restore());
        EXPECT_EQ(data_bytes(memory), before) << "round " << again;
        EXPECT_EQ(cpu.reg(UC_X86_REG_EIP), kAfterCheckpoint) << "round " << again;
        EXPECT_EQ(cpu.reg(UC_X86_REG_ESI), 0u) << "round " << again;
    }
}

INSTANTIATE_TEST_SUITE_P(Snapshot, Rounds, testing::ValuesIn(kRounds), kCaseName);

// Mappings changed after the snapshot leave it nothing to go back to.
TEST(SnapshotRestore, RefusedAfterTheMappingsChanged) {
    Cpu cpu;
    GuestMemory memory(cpu.engine());
    ASSERT_TRUE(memory.map(kData, kPageSize, kAccessRead | kAccessWrite));
    Snapshot snapshot(cpu.engine(), memory);
    ASSERT_TRUE(snapshot.take());
    ASSERT_TRUE(memory.write(kData, &kCalled, sizeof kCalled));
    ASSERT_TRUE(memory.map(data_page(1), kPageSize, kAccessRead | kAccessWrite));
    EXPECT_FALSE(snapshot.restore());
    uint32_t value = 0;
    ASSERT_TRUE(memory.read(kData, &value, sizeof value));
    EXPECT_EQ(value, kCalled);
}

}  // namespace
}  // namespace kiv::test
