// Guest memory's two books must agree: the program's mappings, which decide
// what a system call may touch, and the emulator's regions, which decide what
// guest instructions may touch. Adjacent mappings share regions; changes
// split them again.
#include "machine/guest_memory.h"

#include <gtest/gtest.h>

#include <memory>

#include "case_name.h"
#include "machine/cpu.h"

namespace kiv::test {
namespace {

// Pages counted from a 2 MiB boundary.
constexpr uint32_t kBase = 0x40000000;
constexpr uint32_t page(uint32_t index) { return kBase + index * kPageSize; }

constexpr uint32_t kReadWrite = kAccessRead | kAccessWrite;
constexpr uint32_t kReadExec = kAccessRead | kAccessExec;

struct Step {
    enum Kind { Map, Unmap, Protect } kind;
    uint32_t first_page;
    uint32_t protection = kReadWrite;
};

struct Layout {
    const char *name;
    std::vector<Step> steps;
    size_t regions;
    std::vector<uint32_t> writable;   // pages a call may write
    std::vector<uint32_t> read_only;  // pages a call may read only
    std::vector<uint32_t> unmapped;
};

const Layout kLayouts[] = {
    {"adjacent_pages_share", {{Step::Map, 0}, {Step::Map, 1}, {Step::Map, 2}}, 1, {0, 1, 2}, {}, {3}},
    {"a_page_before_joins", {{Step::Map, 1}, {Step::Map, 0}}, 1, {0, 1}, {}, {2}},
    {"blocks_are_not_crossed", {{Step::Map, 511}, {Step::Map, 512}}, 2, {511, 512}, {}, {510, 513}},
    {"other_protections_stay_apart", {{Step::Map, 0}, {Step::Map, 1, kAccessRead}}, 2, {0}, {1}, {2}},
    {"executable_pages_never_share", {{Step::Map, 0, kReadExec}, {Step::Map, 1, kReadExec}}, 2, {}, {0, 1}, {2}},
    {"release_in_the_middle_splits",
     {{Step::Map, 0}, {Step::Map, 1}, {Step::Map, 2}, {Step::Unmap, 1}},
     2,
     {0, 2},
     {},
     {1}},
    {"release_at_the_start_keeps_the_rest",
     {{Step::Map, 0}, {Step::Map, 1}, {Step::Map, 2}, {Step::Unmap, 0}},
     1,
     {1, 2},
     {},
     {0}},
    {"protection_change_in_the_middle_splits",
     {{Step::Map, 0}, {Step::Map, 1}, {Step::Map, 2}, {Step::Protect, 1, kAccessRead}},
     3,
     {0, 2},
     {1},
     {}},
};

size_t emulator_regions(uc_engine *uc) {
    uc_mem_region *regions = nullptr;
    uint32_t count = 0;
    if (uc_mem_regions(uc, &regions, &count) != UC_ERR_OK) return SIZE_MAX;
    uc_free(regions);
    return count;
}

class Layouts : public testing::TestWithParam<Layout> {};

TEST_P(Layouts, KeepBothBooksInStep) {
    Cpu cpu;
    GuestMemory memory(cpu.engine());
    for (const Step &step : GetParam().steps) {
        uint32_t start = page(step.first_page);
        bool done = step.kind == Step::Map     ? memory.map(start, kPageSize, step.protection)
                    : step.kind == Step::Unmap ? memory.unmap(start, kPageSize)
                                               : memory.protect(start, step.protection);
        ASSERT_TRUE(done) << "step at page " << step.first_page;
    }
    EXPECT_EQ(memory.region_count(), GetParam().regions);
    EXPECT_EQ(emulator_regions(cpu.engine()), GetParam().regions);
    for (uint32_t index : GetParam().writable) EXPECT_TRUE(memory.usable(page(index), kPageSize, kReadWrite)) << index;
    for (uint32_t index : GetParam().read_only) {
        EXPECT_TRUE(memory.usable(page(index), kPageSize, kAccessRead)) << index;
        EXPECT_FALSE(memory.usable(page(index), kPageSize, kAccessWrite)) << index;
    }
    for (uint32_t index : GetParam().unmapped) EXPECT_FALSE(memory.usable(page(index), 1, 0)) << index;
}

INSTANTIATE_TEST_SUITE_P(Steps, Layouts, testing::ValuesIn(kLayouts), kCaseName);

// A released page is given back: mapped again, it reads as zeros, and its
// neighbour in the same region keeps its bytes.
// The emulator's buffer of translated code is the size the run counts for
// it, not Unicorn's default of 1 GiB.
TEST(TranslationBuffer, IsTheSizeCountedForIt) {
    Cpu cpu;
    ASSERT_NE(cpu.engine(), nullptr);
    uint32_t size = 0;
    ASSERT_EQ(uc_ctl_get_tcg_buffer_size(cpu.engine(), &size), UC_ERR_OK);
    EXPECT_EQ(size, kTranslationCacheBytes);
}

TEST(GuestMemoryRelease, LeavesZerosAndKeepsTheNeighbours) {
    Cpu cpu;
    GuestMemory memory(cpu.engine());
    ASSERT_TRUE(memory.map(page(0), kPageSize, kReadWrite) && memory.map(page(1), kPageSize, kReadWrite));
    const uint32_t pattern = 0xa5a5a5a5;
    ASSERT_TRUE(memory.write(page(0), &pattern, sizeof pattern) && memory.write(page(1), &pattern, sizeof pattern));
    ASSERT_TRUE(memory.unmap(page(1), kPageSize));
    ASSERT_TRUE(memory.map(page(1), kPageSize, kReadWrite));
    uint32_t first = 0, again = 1;
    ASSERT_TRUE(memory.read(page(0), &first, sizeof first) && memory.read(page(1), &again, sizeof again));
    EXPECT_EQ(first, pattern);
    EXPECT_EQ(again, 0u);
}

}  // namespace
}  // namespace kiv::test
