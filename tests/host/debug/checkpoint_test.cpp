// A checkpoint brings the machine back as it was: registers, the bytes of
// every page, and the address space's layout, whatever the program changed
// since; and it costs only the pages that changed since the one before.
#include "debug/checkpoint.h"

#include <gtest/gtest.h>

#include <functional>

#include "case_name.h"
#include "machine/cpu.h"
#include "machine/guest_memory.h"

namespace kiv::test {
namespace {

constexpr uint32_t kBase = 0x40000000;
constexpr uint32_t page(uint32_t index) { return kBase + index * kPageSize; }
constexpr uint32_t kReadWrite = kAccessRead | kAccessWrite;
constexpr uint8_t kPattern[] = {0xde, 0xad, 0xbe, 0xef};

// Pages 0 and 1 mapped, page 1 holding the pattern.
void lay_out(GuestMemory &memory) {
    ASSERT_TRUE(memory.map(page(0), 2 * kPageSize, kReadWrite));
    ASSERT_TRUE(memory.write(page(1) + 8, kPattern, sizeof kPattern));
}

struct Change {
    const char *name;
    std::function<bool(GuestMemory &)> make;
};

const Change kChanges[] = {
    {"bytes_written", [](GuestMemory &m) { return m.write(page(1) + 9, "xy", 2) && m.write(page(0), "z", 1); }},
    {"page_mapped", [](GuestMemory &m) { return m.map(page(4), kPageSize, kAccessRead); }},
    {"pages_unmapped", [](GuestMemory &m) { return m.unmap(page(0), 2 * kPageSize); }},
    {"protection_changed", [](GuestMemory &m) { return m.protect(page(0), kAccessRead); }},
    {"unmapped_then_mapped_again_empty",
     [](GuestMemory &m) { return m.unmap(page(0), 2 * kPageSize) && m.map(page(0), kPageSize, kReadWrite); }},
};

class CheckpointChanges : public testing::TestWithParam<Change> {};

TEST_P(CheckpointChanges, AreUndoneByARestore) {
    Cpu cpu;
    GuestMemory memory(cpu.engine());
    lay_out(memory);
    uint32_t eax = 0x1234;
    uc_reg_write(cpu.engine(), UC_X86_REG_EAX, &eax);
    auto checkpoint = Checkpoint::capture(cpu, memory, nullptr);
    ASSERT_NE(checkpoint, nullptr);
    auto layout = memory.mappings();
    std::vector<uint8_t> bytes(2 * kPageSize);
    ASSERT_TRUE(memory.read(page(0), bytes.data(), static_cast<uint32_t>(bytes.size())));

    ASSERT_TRUE(GetParam().make(memory));
    eax = 0x5678;
    uc_reg_write(cpu.engine(), UC_X86_REG_EAX, &eax);
    ASSERT_TRUE(checkpoint->restore(cpu, memory));

    auto restored = memory.mappings();
    ASSERT_EQ(restored.size(), layout.size());
    for (size_t i = 0; i < layout.size(); i++) {
        EXPECT_EQ(restored[i].start, layout[i].start) << i;
        EXPECT_EQ(restored[i].size, layout[i].size) << i;
        EXPECT_EQ(restored[i].protection, layout[i].protection) << i;
    }
    std::vector<uint8_t> now(bytes.size());
    ASSERT_TRUE(memory.read(page(0), now.data(), static_cast<uint32_t>(now.size())));
    EXPECT_EQ(now, bytes);
    EXPECT_EQ(cpu.reg(UC_X86_REG_EAX), 0x1234u);
}

INSTANTIATE_TEST_SUITE_P(Changes, CheckpointChanges, testing::ValuesIn(kChanges), kCaseName);

// Zero-filled pages cost nothing, a written page one copy, and a page that
// stayed as it was is shared with the checkpoint before.
TEST(Checkpoints, CopyOnlyThePagesThatChanged) {
    Cpu cpu;
    GuestMemory memory(cpu.engine());
    ASSERT_TRUE(memory.map(page(0), 16 * kPageSize, kReadWrite));
    auto empty = Checkpoint::capture(cpu, memory, nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->own_bytes(), 0u);
    ASSERT_TRUE(memory.write(page(3), kPattern, sizeof kPattern));
    ASSERT_TRUE(memory.write(page(5), kPattern, sizeof kPattern));
    auto written = Checkpoint::capture(cpu, memory, empty.get());
    ASSERT_NE(written, nullptr);
    EXPECT_EQ(written->own_bytes(), 2u * kPageSize);
    ASSERT_TRUE(memory.write(page(5) + 100, kPattern, sizeof kPattern));
    auto again = Checkpoint::capture(cpu, memory, written.get());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->own_bytes(), 1u * kPageSize);
}

}  // namespace
}  // namespace kiv::test
