// What --coverage writes, underneath the runs: each instruction's count
// from the emulator's blocks, the lcov and drcov records read, merged and
// written back, and where the sources of a record are found.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "case_name.h"
#include "coverage/coverage.h"
#include "coverage/drcov.h"
#include "coverage/lcov.h"
#include "coverage/source_paths.h"
#include "machine/block_counts.h"
#include "test_files.h"

namespace kiv::test {
namespace {

struct SourcePath {
    const char *name;
    const char *recorded;  // as the debug information names it
    const char *kit;       // the kit's sources; empty: none found
    const char *located;
};

const SourcePath kSourcePaths[] = {
    {"kit_library", "/kivos-kit/src/libc/string.cpp", "/opt/kit/lib/kivos/src",
     "/opt/kit/lib/kivos/src/libc/string.cpp"},
    {"kit_header_with_steps", "/kivos-kit/src/libc/stdio/.././include//stdio.h", "/opt/kit/lib/kivos/src",
     "/opt/kit/lib/kivos/src/libc/include/stdio.h"},
    {"no_kit_found", "/kivos-kit/src/libc/string.cpp", "", "/kivos-kit/src/libc/string.cpp"},
    {"a_longer_first_name", "/kivos-kit/srcs/a.c", "/k", "/kivos-kit/srcs/a.c"},
    {"the_build_tree", "/kivos-kit/build/a.c", "/k", "/kivos-kit/build/a.c"},
    {"own_program_up_a_level", "/home/me/p/project/../hello.c", "/k", "/home/me/p/hello.c"},
    {"own_program_in_place", "/home/me/p/hello.c", "/k", "/home/me/p/hello.c"},
    {"own_program_relative", "src/./x/../a.c", "/k", "src/a.c"},
    {"kit_sources_with_steps", "/kivos-kit/src/crt/user_crt0.cpp", "/opt/kit/bin/../lib/kivos/src",
     "/opt/kit/lib/kivos/src/crt/user_crt0.cpp"},
};

class SourcePaths : public testing::TestWithParam<SourcePath> {};

TEST_P(SourcePaths, LeadIntoTheKitWithoutSteps) {
    EXPECT_EQ(located_source(GetParam().recorded, GetParam().kit), GetParam().located);
}

INSTANTIATE_TEST_SUITE_P(Paths, SourcePaths, testing::ValuesIn(kSourcePaths), kCaseName);

TEST(SourcePaths, TheKitIsFoundBesideKivrunFirst) {
    TempDir kit, elsewhere;
    std::filesystem::create_directories(kit.path() / "bin");
    std::filesystem::create_directories(kit.path() / "lib/kivos/src");
    EXPECT_EQ(kit_sources_directory(kit / "bin/kivrun", elsewhere.path()), kit / "lib/kivos/src");
    // A build tree's kivrun: the tree it was built from, while it exists.
    EXPECT_EQ(kit_sources_directory(elsewhere / "kivrun", kit.path()), kit.path().string());
    EXPECT_EQ(kit_sources_directory(elsewhere / "kivrun", elsewhere / "gone"), "");
}

// Blocks as the emulator reports them, and how often each address ran.
struct BlockCase {
    const char *name;
    std::vector<std::array<uint32_t, 3>> blocks;          // start, size, times entered
    std::vector<std::pair<uint32_t, uint64_t>> expected;  // address, executions
};

constexpr uint32_t kCode = 0x400000;
constexpr uint32_t kCodeEnd = kCode + 0x100;

const BlockCase kBlockCases[] = {
    {"one_block_gives_each_byte_its_count", {{kCode, 8, 3}}, {{kCode, 3}, {kCode + 7, 3}, {kCode + 8, 0}}},
    {"a_jump_into_a_block_adds_from_there",
     {{kCode, 10, 3}, {kCode + 4, 6, 2}},
     {{kCode, 3}, {kCode + 3, 3}, {kCode + 4, 5}, {kCode + 9, 5}, {kCode + 10, 0}}},
    {"a_block_cut_short_keeps_both_counts",
     {{kCode, 10, 2}, {kCode, 4, 1}, {kCode, 10, 1}},
     {{kCode, 4}, {kCode + 3, 4}, {kCode + 4, 3}}},
    {"a_block_at_the_end_stops_there", {{kCodeEnd - 4, 16, 2}}, {{kCodeEnd - 1, 2}}},
    {"code_outside_the_program_is_not_counted", {{kCodeEnd, 4, 5}, {kCode - 8, 4, 5}}, {{kCode, 0}}},
};

class BlockCounting : public testing::TestWithParam<BlockCase> {};

TEST_P(BlockCounting, GivesEveryInstructionItsExecutions) {
    const std::vector<CodeRange> kRanges = {{kCode, kCodeEnd}};
    BlockCounts counts(kRanges);
    for (const auto &[start, size, times] : GetParam().blocks)
        for (uint32_t i = 0; i < times; i++) counts.count(start, size);
    InstructionCounts executed(kRanges, counts.runs());
    for (const auto &[address, expected] : GetParam().expected) EXPECT_EQ(executed.at(address), expected) << address;
    EXPECT_EQ(executed.at(kCodeEnd), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Blocks, BlockCounting, testing::ValuesIn(kBlockCases), kCaseName);

// A program whose code is larger than the tables may be (a hostile one) is
// counted up to that size, without taking memory for the rest.
TEST(BlockCountingLimit, StopsAtItsBudget) {
    const uint32_t kLast = kCode + static_cast<uint32_t>(BlockCounts::kMaxCountedBytes) - 4;
    BlockCounts counts({{kCode, 0xb0000000}});
    counts.count(kLast, 4);
    counts.count(kLast + 4, 4);
    InstructionCounts executed(counts.ranges(), counts.runs());
    EXPECT_EQ(counts.runs().size(), 1u);
    EXPECT_EQ(executed.at(kLast + 3), 1u);
    EXPECT_EQ(executed.at(kLast + 4), std::nullopt);
}

// A block the emulator ends early every other time (the instruction after
// a mov to %ss) keeps one count per size, however often it alternates.
TEST(BlockCountingLimit, AlternatingSizesKeepOneRunEach) {
    constexpr uint32_t kAlternations = 200000;
    BlockCounts counts({{kCode, kCodeEnd}});
    for (uint32_t i = 0; i < kAlternations; i++) {
        counts.count(kCode, 8);
        counts.count(kCode, 2);
    }
    auto runs = counts.runs();
    EXPECT_EQ(runs.size(), 2u);
    InstructionCounts executed(counts.ranges(), runs);
    EXPECT_EQ(executed.at(kCode + 1), 2 * kAlternations);
    EXPECT_EQ(executed.at(kCode + 7), kAlternations);
}

// Only the code the file holds is counted: an executable bss (64 MiB here)
// would otherwise take 16 bytes per byte.
TEST(BlockCountingLimit, TablesCoverTheCodeTheFileHolds) {
    constexpr uint32_t kFileCode = 0x2400;
    ExecutableImage image;
    image.segments = {{kCode, 64u << 20, 0x1000, kFileCode, kAccessRead | kAccessWrite | kAccessExec},
                      {0x8000000, 0x1000, 0x1000, 0x1000, kAccessRead}};
    EXPECT_EQ(coverage_memory(image), uint64_t{kFileCode} * 16);
}

TEST(LcovRecord, MergingSumsLinesAndCallsAndSkipsBranches) {
    std::string error;
    auto earlier = parse_lcov("TN:old\nSF:/a.c\nFN:3,f\nFNDA:2,f\nBRDA:3,0,0,1\nDA:3,2\nDA:4,0,77\nend_of_record\n",
                              error);
    ASSERT_TRUE(earlier) << error;
    auto later = parse_lcov(
        "SF:/a.c\nFN:3,f\nFN:9,g\nFNDA:1,f\nFNDA:0,g\nDA:3,1\nDA:9,0\nend_of_record\n"
        "SF:/b.c\nDA:1,5\nend_of_record\n",
        error);
    ASSERT_TRUE(later) << error;
    merge(*earlier, *later);
    EXPECT_EQ(format_lcov(*earlier),
              "TN:\nSF:/a.c\nFN:3,f\nFN:9,g\nFNDA:3,f\nFNDA:0,g\nFNF:2\nFNH:1\nDA:3,3\nDA:4,0\nDA:9,0\nLF:3\nLH:1\n"
              "end_of_record\nTN:\nSF:/b.c\nFNF:0\nFNH:0\nDA:1,5\nLF:1\nLH:1\nend_of_record\n");
}

struct BrokenRecord {
    const char *name;
    const char *text;
    const char *error;
};

const BrokenRecord kBrokenRecords[] = {
    {"line_outside_a_file", "DA:1,1\n", "line 1 is not part of an lcov tracefile"},
    {"count_not_a_number", "SF:/a.c\nDA:1,many\nend_of_record\n", "line 2 is not part of an lcov tracefile"},
    {"function_without_name", "SF:/a.c\nFN:4,\nend_of_record\n", "line 2 is not part of an lcov tracefile"},
    {"unknown_key", "SF:/a.c\nXY:1\n", "line 2 is not part of an lcov tracefile"},
    {"end_twice", "SF:/a.c\nend_of_record\nend_of_record\n", "line 3 is not part of an lcov tracefile"},
    {"source_inside_a_record", "SF:/a.c\nSF:/b.c\nend_of_record\n", "line 2 is not part of an lcov tracefile"},
    {"record_not_ended", "SF:/a.c\nDA:1,1\n", "its last record has no end_of_record"},
};

class BrokenRecords : public testing::TestWithParam<BrokenRecord> {};

TEST_P(BrokenRecords, AreRefusedWithTheLine) {
    std::string error;
    EXPECT_FALSE(parse_lcov(GetParam().text, error));
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Records, BrokenRecords, testing::ValuesIn(kBrokenRecords), kCaseName);

// Counts that would pass 64 bits stop at the largest.
TEST(LcovRecord, CountsSaturateInsteadOfWrapping) {
    std::string error;
    const std::string kHuge = "SF:/a.c\nFNDA:18446744073709551615,f\nDA:1,18446744073709551615\nend_of_record\n";
    auto record = parse_lcov(kHuge + kHuge + "SF:/a.c\nDA:1,2\nend_of_record\n", error);
    ASSERT_TRUE(record) << error;
    EXPECT_EQ(record->files["/a.c"].lines[1], UINT64_MAX);
    EXPECT_EQ(record->files["/a.c"].functions["f"].count, UINT64_MAX);
}

// A #line file name or a function name may hold any byte but NUL: control
// characters are written as \xNN, so a name can neither end its record nor
// add one, and the file reads back.
TEST(LcovRecord, NamesCannotAddRecords) {
    DebugLines debug;
    debug.files = {"/a.c\nDA:1,999999\nend_of_record\nSF:/b.c", "/c\r"};
    debug.lines = {{0, 1, kCode}, {1, 2, kCode}};
    debug.functions = {{0, 1, "f\nFNDA:7,g", kCode}};
    BlockCounts counts({{kCode, kCodeEnd}});
    counts.count(kCode, 4);
    Tracefile record = tracefile_from_lines(debug, InstructionCounts(counts.ranges(), counts.runs()));
    std::string text = format_lcov(record);
    EXPECT_EQ(text.find("\nDA:1,999999"), std::string::npos) << text;
    EXPECT_EQ(text.find("\nFNDA:7,g"), std::string::npos) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos) << text;
    std::string error;
    auto again = parse_lcov(text, error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(format_lcov(*again), text);
    EXPECT_EQ(again->files.size(), 2u);
    EXPECT_TRUE(again->files.contains("/a.c\\x0aDA:1,999999\\x0aend_of_record\\x0aSF:/b.c")) << text;
}

struct BrokenLog {
    const char *name;
    std::string bytes;
    const char *error;
};

const std::string kDrcovHead =
    "DRCOV VERSION: 2\nDRCOV FLAVOR: drcov\nModule Table: version 2, count 1\nColumns: id, base, end, entry, path\n"
    "  0, 0x1000, 0x2000, 0x1000, /p\n";
const std::string kOneBlock("\x10\0\0\0\x04\0\0\0", 8);

const BrokenLog kBrokenLogs[] = {
    {"not_drcov", "DRCOV VERSION: 3\n", "line 1: not a drcov version 2 log"},
    {"no_flavor", "DRCOV VERSION: 2\n", "line 2: no drcov flavor"},
    {"too_many_modules", "DRCOV VERSION: 2\nDRCOV FLAVOR: x\nModule Table: version 2, count 65537\n",
     "line 3: no module table of at most 65536 modules"},
    {"module_missing",
     "DRCOV VERSION: 2\nDRCOV FLAVOR: x\nModule Table: version 2, count 2\n"
     "Columns: id, base, end, entry, path\n  0, 0x1000, 0x2000, 0x1000, /p\nBB Table: 0 bbs\n",
     "line 6: not module 1"},
    // 2^61 + 1 entries of 8 bytes wrap to 8 bytes.
    {"count_that_wraps", kDrcovHead + "BB Table: 2305843009213693953 bbs\n" + kOneBlock,
     "byte 172: the block table does not hold 2305843009213693953 blocks"},
    {"count_past_64_bits", kDrcovHead + "BB Table: 18446744073709551616 bbs\n", "line 6: no block table"},
    {"table_short", kDrcovHead + "BB Table: 2 bbs\n" + kOneBlock, "byte 154: the block table does not hold 2 blocks"},
    {"unknown_module", kDrcovHead + "BB Table: 2 bbs\n" + kOneBlock + std::string("\0\0\0\0\x04\0\x01\0", 8),
     "byte 162: a block of module 1, which is not in the table"},
};

class BrokenLogs : public testing::TestWithParam<BrokenLog> {};

TEST_P(BrokenLogs, AreRefusedWithTheLineOrByte) {
    std::string error;
    EXPECT_FALSE(parse_drcov(GetParam().bytes, error));
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Logs, BrokenLogs, testing::ValuesIn(kBrokenLogs), kCaseName);

// What the program's run adds to a log of many modules: each of its
// modules is looked up once, whatever the number of blocks.
TEST(DrcovLog, MergingKeepsEachModulesBlocks) {
    std::string error;
    auto log = parse_drcov(kDrcovHead + "BB Table: 1 bbs\n" + kOneBlock, error);
    ASSERT_TRUE(log) << error;
    DrcovLog mine{{{"/q", 0x5000, 0x6000, 0x5000}}, {{0, 2, 0}, {4, 2, 0}}};
    merge(*log, mine);
    ASSERT_EQ(log->modules.size(), 2u);
    EXPECT_EQ(log->blocks, (std::set<DrcovBlock>{{0x10, 4, 0}, {0, 2, 1}, {4, 2, 1}}));
    auto again = parse_drcov(format_drcov(*log), error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->blocks, log->blocks);
}

}  // namespace
}  // namespace kiv::test
