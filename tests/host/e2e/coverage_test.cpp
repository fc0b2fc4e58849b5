// kivrun --coverage as a test writer meets it: exact counts in the lcov
// tracefile, genhtml reading it, a drcov log that a reader of its own
// parses, records summed over spawned processes and over runs, and written
// however the run ends.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <regex>

#include "../coverage/hostile_program.h"
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
        {"body", iterations},
        {"called", iterations},
        {"never", 0},
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
    CommandRun removed = run_command(
        {"lcov", "--quiet", "--remove", coverage.record_path(), "/fx*", "--output-file", coverage.record_path()});
    ASSERT_EQ(removed.status, 0) << removed.err;
    auto records = read_tracefile(coverage.record());
    EXPECT_TRUE(records.contains(KIV_SOURCE_DIR "/libc/unistd.cpp")) << coverage.record();
    for (const auto &[path, record] : records) {
        EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
        EXPECT_EQ(path, std::filesystem::path(path).lexically_normal().string());
    }
    TempDir report;
    CommandRun genhtml = run_command(
        {"genhtml", "--quiet", "--output-directory", report.path(), coverage.record_path()});
    EXPECT_EQ(genhtml.status, 0) << genhtml.err;
    EXPECT_TRUE(report.exists("index.html"));
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
    const char *strip;  // what i686-linux-gnu-strip is told to drop
    bool functions;     // whether the record still names them
    const char *note;   // on kivrun's standard error
};

const Stripped kStrippedPrograms[] = {
    {"no_line_tables", "--strip-debug", true, "has no debug information: its functions are recorded, not its lines"},
    {"no_symbols_either", "--strip-all", false,
     "has neither debug information nor a symbol table: no coverage recorded"},
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
    if (log.header.size() < 3 ||
        !std::regex_match(log.header[2], count, std::regex(R"(Module Table: version 2, count (\d+))")))
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

// Refused debug information leaves the program's own status as it is; the
// record falls back to the symbol table, and a note says why.
TEST(HostileDebugInformation, LeavesTheStatusAndFallsBackToSymbols) {
    TempDir directory;
    std::string program = assemble(directory, hostile_source(10, 4, 50000));
    CommandRun run = run_kivrun({"--coverage", directory / "record", program});
    EXPECT_EQ(run.status, kExitStatus);
    EXPECT_EQ(run.err, "kivrun: " + program +
                           "'s debug information nests scopes deeper than 256 levels: its functions are recorded, "
                           "not its lines\n");
    EXPECT_NE(directory.read("record").find("FNDA:1,_start\n"), std::string::npos) << directory.read("record");
}

}  // namespace
}  // namespace kiv::test
