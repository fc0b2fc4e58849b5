// kivrun --coverage as a test writer meets it: exact counts in the lcov
// tracefile, genhtml reading it, a drcov log that a reader of its own
// parses, records summed over spawned processes and over runs, and written
// however the run ends; and the counting and merging underneath.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <fstream>
#include <map>
#include <regex>

#include "machine/block_counts.h"
#include "coverage/coverage.h"
#include "coverage/drcov.h"
#include "coverage/lcov.h"
#include "coverage/source_paths.h"
#include "case_name.h"
#include "guest_runner.h"

namespace kiv::test {
namespace {

const std::string kFixtureSource = KIV_SOURCE_DIR "/tests/guest/fx_coverage.cpp";

// The line of the fixture that ends with "// coverage: MARK"; 0 if none.
uint32_t marked_line(const std::string &mark) {
    std::ifstream source(kFixtureSource);
    uint32_t number = 0;
    for (std::string line; std::getline(source, line);) {
        number++;
        if (line.ends_with("// coverage: " + mark)) return number;
    }
    return 0;
}

// What a tracefile says about one source file, read here line by line
// rather than with kivrun's own reader.
struct SourceRecord {
    std::map<uint32_t, uint64_t> lines;
    std::map<std::string, uint64_t> calls;
    std::map<std::string, uint64_t> totals;  // LF, LH, FNF, FNH
};

std::map<std::string, SourceRecord> read_tracefile(const std::string &text) {
    static const std::regex kLine(R"((SF|DA|FNDA|LF|LH|FNF|FNH):(\d+,)?(.*))");
    std::map<std::string, SourceRecord> records;
    SourceRecord *current = nullptr;
    std::istringstream in(text);
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
        if (!std::regex_match(line, match, kLine)) continue;
        std::string key = match[1], first = match[2], rest = match[3];
        uint64_t number = first.empty() ? 0 : std::stoull(first);
        if (key == "SF") current = &records[rest];
        else if (current == nullptr) continue;
        else if (key == "DA") current->lines[static_cast<uint32_t>(number)] = std::stoull(rest);
        else if (key == "FNDA") current->calls[rest] = number;
        else current->totals[key] = std::stoull(rest);
    }
    return records;
}

// A sandbox holding the fixture at /fx_coverage (where it spawns itself)
// and a place for the record outside it.
class CoverageRun {
public:
    CoverageRun() { std::filesystem::copy_file(guest_program("fx_coverage"), program()); }

    std::string program() const { return root_ / "fx_coverage"; }
    std::string record_path() const { return files_ / "record"; }
    std::string record() const { return files_.read("record"); }

    CommandRun run(const std::vector<std::string> &args, const std::vector<std::string> &options = {},
                   const std::string &program = "") const {
        std::vector<std::string> words{"--root", root_.path().string(), "--coverage", record_path()};
        words.insert(words.end(), options.begin(), options.end());
        words.push_back(program.empty() ? this->program() : program);
        words.insert(words.end(), args.begin(), args.end());
        return run_kivrun(words);
    }

private:
    TempDir root_;
    TempDir files_;
};

struct CountCase {
    const char *name;
    std::vector<std::string> args;  // the loop's iterations, then the child's
    int runs;
};

const CountCase kCountCases[] = {
    {"loop_not_entered", {"0"}, 1},
    {"seven_iterations", {"7"}, 1},
    {"spawned_child_adds_its_own", {"4", "3"}, 1},
    {"second_run_adds_to_the_file", {"5"}, 2},
};

class CoverageCounts : public testing::TestWithParam<CountCase> {};

TEST_P(CoverageCounts, AreExactPerLineAndFunction) {
    const CountCase &test = GetParam();
    CoverageRun coverage;
    for (int i = 0; i < test.runs; i++) ASSERT_EQ(coverage.run(test.args).status, 0) << coverage.record();
    uint64_t iterations = 0;
    for (const auto &count : test.args) iterations += std::stoull(count);
    iterations *= static_cast<uint64_t>(test.runs);
    uint64_t processes = static_cast<uint64_t>(test.runs) * test.args.size();

    SourceRecord fixture = read_tracefile(coverage.record())[kFixtureSource];
    const std::map<std::string, uint64_t> expected_lines = {
        {"body", iterations}, {"called", iterations}, {"never", 0},
        {"spawn", test.args.size() > 1 ? static_cast<uint64_t>(test.runs) : 0}};
    for (const auto &[mark, count] : expected_lines) {
        ASSERT_NE(marked_line(mark), 0u) << mark;
        EXPECT_EQ(fixture.lines[marked_line(mark)], count) << mark << "\n" << coverage.record();
    }
    EXPECT_EQ(fixture.calls["main"], processes);
    auto square = std::find_if(fixture.calls.begin(), fixture.calls.end(),
                               [](const auto &call) { return call.first.find("square") != std::string::npos; });
    ASSERT_NE(square, fixture.calls.end()) << coverage.record();
    EXPECT_EQ(square->second, iterations);
    auto hit = static_cast<uint64_t>(
        std::count_if(fixture.lines.begin(), fixture.lines.end(), [](auto &line) { return line.second; }));
    EXPECT_EQ(fixture.totals["LF"], fixture.lines.size());
    EXPECT_EQ(fixture.totals["LH"], hit);
    // The #line name stays inside its SF line.
    EXPECT_EQ(coverage.record().find("\nDA:1,999999\n"), std::string::npos) << coverage.record();
    EXPECT_EQ(coverage.record().find("\nSF:/injected"), std::string::npos) << coverage.record();
}

INSTANTIATE_TEST_SUITE_P(Runs, CoverageCounts, testing::ValuesIn(kCountCases), kCaseName);

// Every file of the record is where it names it, the library's in the tree
// this kivrun was built from, so genhtml reads the record as it is.
TEST(Coverage, GenhtmlReadsTheTracefileAsItIs) {
    CoverageRun coverage;
    ASSERT_EQ(coverage.run({"3", "2"}).status, 0);
    // The fixture's last function is named by a hostile #line on purpose: no
    // such file can exist, so that one record is taken out first.
    CommandRun removed = run_command({"lcov", "--quiet", "--remove", coverage.record_path(), "/fx*", "--output-file",
                                      coverage.record_path()});
    ASSERT_EQ(removed.status, 0) << removed.err;
    auto records = read_tracefile(coverage.record());
    EXPECT_TRUE(records.contains(KIV_SOURCE_DIR "/libc/unistd.cpp")) << coverage.record();
    for (const auto &[path, record] : records) {
        EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
        EXPECT_EQ(path, std::filesystem::path(path).lexically_normal().string());
    }
    TempDir report;
    CommandRun genhtml = run_command({"genhtml", "--quiet", "--output-directory", report.path(), coverage.record_path()});
    EXPECT_EQ(genhtml.status, 0) << genhtml.err;
    EXPECT_TRUE(report.exists("index.html"));
}

struct SourcePath {
    const char *name;
    const char *recorded;  // as the debug information names it
    const char *kit;       // the kit's sources; empty: none found
    const char *located;
};

const SourcePath kSourcePaths[] = {
    {"kit_library", "/kivos-kit/src/libc/string.cpp", "/opt/kit/lib/kivos/src", "/opt/kit/lib/kivos/src/libc/string.cpp"},
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

struct Ending {
    const char *name;
    const char *program;
    std::vector<std::string> args;
    std::vector<std::string> options;
    int status;
    const char *error;  // in kivrun's standard error
};

const Ending kEndings[] = {
    {"exit", "fx_coverage", {"3"}, {}, 0, ""},
    {"fault", "fx_fault", {"null-write"}, {}, 139, "page fault"},
    {"time_limit", "fx_coverage", {"2000000000"}, {"--timeout", "0.5"}, 124, "time limit"},
    {"block_limit", "fx_coverage", {"2000000000"}, {"--max-blocks", "20000"}, 124, "executed blocks"},
    {"traced", "fx_coverage", {"3"}, {"--trace"}, 0, "+++ exited with 0 +++"},
};

// The parent loops not at all, its child until the time limit: the child's
// counts reach the record, and no temporary file is left beside it.
TEST(Coverage, ChildrenAddTheirCountsAtTheTimeLimit) {
    CoverageRun coverage;
    CommandRun run = coverage.run({"0", "2000000000"}, {"--timeout", "0.5"});
    EXPECT_EQ(run.status, kExitStopped) << run.err;
    auto records = read_tracefile(coverage.record());
    EXPECT_GT(records[kFixtureSource].lines[marked_line("body")], 0u) << coverage.record();
    EXPECT_GT(records[kFixtureSource].calls["main"], 1u) << coverage.record();
    auto beside = std::filesystem::directory_iterator(std::filesystem::path(coverage.record_path()).parent_path());
    EXPECT_EQ(std::distance(beside, {}), 1) << "a temporary file was left";
}

// The record is the file a link names; a fifo or a directory is refused
// before the program runs (a fifo nobody reads would block the opening).
TEST(Coverage, ALinkLeadsToItsFile) {
    CoverageRun coverage;
    TempDir links;
    std::filesystem::create_symlink(coverage.record_path(), links / "link");
    CommandRun run = run_kivrun({"--root", std::filesystem::path(coverage.program()).parent_path().string(),
                                 "--coverage", links / "link", coverage.program(), "2"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::filesystem::is_symlink(links / "link"));
    EXPECT_EQ(read_tracefile(coverage.record())[kFixtureSource].lines[marked_line("body")], 2u);
}

struct NotARecordFile {
    const char *name;
    std::function<void(const std::string &path)> make;
};

const NotARecordFile kNotRecordFiles[] = {
    {"fifo", [](const std::string &path) { mkfifo(path.c_str(), 0600); }},
    {"directory", [](const std::string &path) { std::filesystem::create_directory(path); }},
};

class NotRecordFiles : public testing::TestWithParam<NotARecordFile> {};

TEST_P(NotRecordFiles, AreRefusedAtTheStart) {
    TempDir files;
    GetParam().make(files / "record");
    CommandRun run = run_kivrun({"--coverage", files / "record", guest_program("fx_coverage"), "1"},
                                {.time = Seconds{3}});
    EXPECT_EQ(run.status, kExitHostError);
    EXPECT_NE(run.err.find("cannot write the coverage to '" + files / "record" + "': "), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Files, NotRecordFiles, testing::ValuesIn(kNotRecordFiles), kCaseName);

class CoverageEndings : public testing::TestWithParam<Ending> {};

TEST_P(CoverageEndings, StillWriteTheRecord) {
    const Ending &ending = GetParam();
    CoverageRun coverage;
    CommandRun run = coverage.run(ending.args, ending.options, guest_program(ending.program));
    EXPECT_EQ(run.status, ending.status) << run.err;
    EXPECT_NE(run.err.find(ending.error), std::string::npos) << run.err;
    auto records = read_tracefile(coverage.record());
    auto source = records.find(KIV_SOURCE_DIR "/tests/guest/" + std::string(ending.program) + ".cpp");
    ASSERT_NE(source, records.end()) << coverage.record();
    EXPECT_EQ(source->second.calls["main"], 1u);
}

INSTANTIATE_TEST_SUITE_P(Endings, CoverageEndings, testing::ValuesIn(kEndings), kCaseName);

struct Stripped {
    const char *name;
    const char *strip;     // what i686-linux-gnu-strip is told to drop
    bool functions;        // whether the record still names them
    const char *note;      // on kivrun's standard error
};

const Stripped kStrippedPrograms[] = {
    {"no_line_tables", "--strip-debug", true, "has no debug information: its functions are recorded, not its lines"},
    {"no_symbols_either", "--strip-all", false, "has neither debug information nor a symbol table: no coverage recorded"},
};

class StrippedPrograms : public testing::TestWithParam<Stripped> {};

TEST_P(StrippedPrograms, FallBackToWhatIsLeft) {
    const Stripped &stripped = GetParam();
    CoverageRun coverage;
    CommandRun strip = run_command({"i686-linux-gnu-strip", stripped.strip, coverage.program()});
    ASSERT_EQ(strip.status, 0) << strip.err;
    CommandRun run = coverage.run({"6"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "kivrun: " + coverage.program() + " " + stripped.note + "\n");
    auto records = read_tracefile(coverage.record());
    EXPECT_EQ(records.size(), stripped.functions ? 1u : 0u) << coverage.record();
    if (!stripped.functions) return;
    SourceRecord &program = records[coverage.program()];
    EXPECT_TRUE(program.lines.empty());
    EXPECT_EQ(program.calls["square"], 6u);
    EXPECT_EQ(program.calls["main"], 1u);
    // Never called, and recorded as such.
    ASSERT_TRUE(program.calls.contains("write")) << coverage.record();
    EXPECT_EQ(program.calls["write"], 0u);
}

INSTANTIATE_TEST_SUITE_P(Programs, StrippedPrograms, testing::ValuesIn(kStrippedPrograms), kCaseName);

TEST(Coverage, CombinesWithGdb) {
    CoverageRun coverage;
    DebuggedRun run(coverage.program(), {"4"}, {"--coverage", coverage.record_path()});
    ASSERT_NE(run.port(), 0) << run.finish().err;
    CommandRun debugger = run_gdb(run.port(), {"break square", "continue", "delete", "continue"}, coverage.program());
    EXPECT_NE(debugger.out.find("exited normally"), std::string::npos) << debugger.out << debugger.err;
    EXPECT_EQ(run.finish().status, 0);
    EXPECT_EQ(read_tracefile(coverage.record())[kFixtureSource].lines[marked_line("body")], 4u);
}

TEST(Coverage, AFileOfAnotherKindIsLeftAlone) {
    CoverageRun coverage;
    const std::string kNotARecord = "a shopping list\n";
    std::ofstream(coverage.record_path()) << kNotARecord;
    CommandRun run = coverage.run({"1"});
    EXPECT_EQ(run.status, kExitHostError);
    EXPECT_EQ(run.err, "kivrun: cannot record coverage in '" + coverage.record_path() +
                           "': line 1 is not part of an lcov tracefile\n");
    EXPECT_EQ(coverage.record(), kNotARecord);
}

// A drcov version 2 log read with nothing but its description: the header,
// the module table, then "BB Table: N bbs" and N records of 8 bytes.
struct DrcovRead {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> modules;  // the columns of each
    std::vector<std::array<uint32_t, 3>> blocks;    // offset, size, module
    bool whole = false;
};

DrcovRead read_drcov(const std::string &bytes) {
    DrcovRead log;
    std::istringstream in(bytes);
    std::string line;
    for (int i = 0; i < 4 && std::getline(in, line); i++) log.header.push_back(line);
    std::smatch count;
    if (log.header.size() < 3 || !std::regex_match(log.header[2], count, std::regex(R"(Module Table: version 2, count (\d+))")))
        return log;
    for (int i = 0; i < std::stoi(count[1]) && std::getline(in, line); i++) {
        std::vector<std::string> columns;
        std::regex separator(", ");
        std::copy(std::sregex_token_iterator(line.begin(), line.end(), separator, -1), std::sregex_token_iterator(),
                  std::back_inserter(columns));
        log.modules.push_back(columns);
    }
    if (!std::getline(in, line) || !std::regex_match(line, count, std::regex(R"(BB Table: (\d+) bbs)"))) return log;
    size_t blocks = std::stoul(count[1]);
    std::string table(std::istreambuf_iterator<char>(in), {});
    for (size_t i = 0; i < blocks && (i + 1) * 8 <= table.size(); i++) {
        uint32_t start;
        uint16_t size, module;
        std::memcpy(&start, &table[i * 8], 4);
        std::memcpy(&size, &table[i * 8 + 4], 2);
        std::memcpy(&module, &table[i * 8 + 6], 2);
        log.blocks.push_back({start, size, module});
    }
    log.whole = table.size() == blocks * 8;
    return log;
}

// The entry point, from the ELF header.
uint32_t entry_of(const std::string &program) {
    auto bytes = read_test_file(program);
    uint32_t entry = 0;
    if (bytes.size() >= 28) std::memcpy(&entry, &bytes[24], 4);
    return entry;
}

TEST(Coverage, DrcovLogParsesAndMergesBlocks) {
    CoverageRun coverage;
    const std::vector<std::string> kDrcov = {"--coverage-format", "drcov"};
    ASSERT_EQ(coverage.run({"3", "2"}, kDrcov).status, 0);
    DrcovRead first = read_drcov(coverage.record());
    ASSERT_EQ(coverage.run({"3"}, kDrcov).status, 0);
    DrcovRead log = read_drcov(coverage.record());

    ASSERT_EQ(log.header.size(), 4u);
    EXPECT_EQ(log.header[0], "DRCOV VERSION: 2");
    EXPECT_EQ(log.header[1].rfind("DRCOV FLAVOR: ", 0), 0u);
    EXPECT_EQ(log.header[3], "Columns: id, base, end, entry, path");
    // The spawned copy is the same file: one module.
    ASSERT_EQ(log.modules.size(), 1u);
    const auto &module = log.modules[0];
    ASSERT_EQ(module.size(), 5u);
    EXPECT_EQ(std::stoul(module[0]), 0u);
    EXPECT_EQ(module[4], coverage.program());
    uint64_t base = std::stoull(module[1], nullptr, 16), end = std::stoull(module[2], nullptr, 16);
    EXPECT_EQ(std::stoull(module[3], nullptr, 16), entry_of(coverage.program()));

    EXPECT_TRUE(log.whole);
    EXPECT_EQ(log.blocks, first.blocks) << "a block is recorded once, however often it ran";
    ASSERT_FALSE(log.blocks.empty());
    bool entry_seen = false;
    for (const auto &[offset, size, id] : log.blocks) {
        EXPECT_EQ(id, 0u);
        EXPECT_GT(size, 0u);
        EXPECT_LE(base + offset + size, end);
        entry_seen |= base + offset == entry_of(coverage.program());
    }
    EXPECT_TRUE(entry_seen);
}

// Blocks as the emulator reports them, and how often each address ran.
struct BlockCase {
    const char *name;
    std::vector<std::array<uint32_t, 3>> blocks;           // start, size, times entered
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
    auto earlier = parse_lcov("TN:old\nSF:/a.c\nFN:3,f\nFNDA:2,f\nBRDA:3,0,0,1\nDA:3,2\nDA:4,0,77\nend_of_record\n", error);
    ASSERT_TRUE(earlier) << error;
    auto later = parse_lcov("SF:/a.c\nFN:3,f\nFN:9,g\nFNDA:1,f\nFNDA:0,g\nDA:3,1\nDA:9,0\nend_of_record\n"
                            "SF:/b.c\nDA:1,5\nend_of_record\n", error);
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
    {"module_missing", "DRCOV VERSION: 2\nDRCOV FLAVOR: x\nModule Table: version 2, count 2\n"
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
