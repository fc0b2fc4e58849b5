// Recording and replaying: a replay gives the recorded run's output, status,
// trace and coverage though the world outside changed; a replay of another
// program, other arguments or other calls stops at the first difference;
// a bad recording is refused with one line, whatever its bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "case_name.h"
#include "dispatch/recording.h"
#include "guest_runner.h"
#include "run/run.h"

namespace kiv::test {
namespace {

constexpr const char *kFixture = "fx_replay";
constexpr const char *kFirstText = "the first text";

// One world a fixture runs in: a sandbox holding the program (when it is a
// fixture that spawns itself) and its input, and the recording's directory.
struct World {
    TempDir sandbox;
    TempDir records;
    std::string recording() const { return records / "rec"; }
    std::string program(const std::string &name) const { return sandbox / name; }
};

// A kivrun run under --record or --replay: the mode's option, the sandbox,
// the extra options, then the program and its arguments.
CommandRun run_recorded(const World &world, const char *mode, const std::vector<std::string> &options,
                        const std::string &program, const std::vector<std::string> &args) {
    std::vector<std::string> argv{std::string(mode) + world.recording(), "--root", world.sandbox.path().string()};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(program);
    argv.insert(argv.end(), args.begin(), args.end());
    return run_kivrun(argv);
}

// The JSON trace's lines of each process, in order, without their times
// (lines of different processes interleave as the host schedules them).
std::map<std::string, std::vector<std::string>> lines_by_process(const std::string &path) {
    static const std::regex kTimes(R"(,"time":[0-9.e+-]+|,"duration":[0-9.e+-]+)");
    static const std::regex kPid(R"(^\{"pid":(\d+),)");
    std::map<std::string, std::vector<std::string>> lines;
    std::istringstream in(std::string(std::istreambuf_iterator<char>(*std::make_unique<std::ifstream>(path)), {}));
    std::smatch pid;
    for (std::string line; std::getline(in, line);)
        if (std::regex_search(line, pid, kPid)) lines[pid[1]].push_back(std::regex_replace(line, kTimes, ""));
    return lines;
}

struct Equality {
    const char *name;
    const char *program;
    std::vector<std::string> args;
    std::vector<std::string> options;
    int status;
    // The recorded run's standard output holds this (so the replay's does
    // too, from the recording alone).
    const char *out_holds;
};

void PrintTo(const Equality &row, std::ostream *out) { *out << row.name; }

const Equality kEqualities[] = {
    {"file-tsc-random-pipe-child", kFixture, {}, {}, -1, kFirstText},
    {"child-output-on-the-console", kFixture, {"child", "4"}, {}, 4, "line "},
    {"time-stamps-from-a-sequence", "fx_rdtsc", {}, {"--tsc", "0x100:3"}, 0, "0000000000000103\n"},
    {"random-seeded-from-the-counter", "fx_rand_seed", {}, {}, 0, "\n"},
    {"block-limit", "fx_rand_seed", {}, {"--max-blocks", "3000"}, kExitStopped, ""},
    {"time-limit", "fx_syscall_loop", {"100000000"}, {"--timeout", "0.3"}, kExitStopped, ""},
    {"children-exit-and-fault", "fx_spawn", {"statuses"}, {}, 0, ""},
    {"mappings", "t_mmap", {}, {}, 0, ""},
    {"files-made-and-removed", "t_files", {}, {}, 0, ""},
};

class RecordReplay : public testing::TestWithParam<Equality> {};

TEST_P(RecordReplay, ReplayEqualsTheRecordedRun) {
    const Equality &row = GetParam();
    World world;
    std::filesystem::copy_file(guest_program(row.program), world.program(row.program));
    world.sandbox.write("input.txt", kFirstText);
    std::string trace = world.records / "trace", coverage = world.records / "coverage";
    std::vector<std::string> options = row.options;
    options.insert(options.end(), {"--trace-format", "json", "-o", trace + ".1", "--coverage", coverage + ".1"});
    CommandRun recorded = run_recorded(world, "--record=", options, world.program(row.program), row.args);
    if (row.status >= 0) {
        EXPECT_EQ(recorded.status, row.status) << recorded.err;
    }
    EXPECT_NE(recorded.out.find(row.out_holds), std::string::npos) << recorded.out;

    // The world changes; the replay must not see it.
    world.sandbox.write("input.txt", "another text, longer than the first");
    options.end()[-3] = trace + ".2";
    options.end()[-1] = coverage + ".2";
    CommandRun replayed = run_recorded(world, "--replay=", options, world.program(row.program), row.args);
    EXPECT_EQ(replayed.status, recorded.status) << replayed.err;
    EXPECT_EQ(replayed.out, recorded.out);
    EXPECT_EQ(replayed.err, recorded.err);
    EXPECT_EQ(lines_by_process(trace + ".2"), lines_by_process(trace + ".1"));
    EXPECT_EQ(world.records.read("coverage.2"), world.records.read("coverage.1"));
}

INSTANTIATE_TEST_SUITE_P(Runs, RecordReplay, testing::ValuesIn(kEqualities), kCaseName);

// The recording's bytes, read and written whole.
std::vector<uint8_t> recording_bytes(const std::string &path) { return read_test_file(path); }
void write_bytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Where the first call's record starts (its kind byte).
uint64_t first_call(const std::vector<uint8_t> &bytes) {
    std::string error;
    auto recording = parse_recording(bytes, error);
    EXPECT_TRUE(recording) << error;
    RecordingCursor cursor = recording->events();
    for (uint64_t at = cursor.offset(); auto event = cursor.next(error); at = cursor.offset())
        if (event->kind == EventKind::Call) return at;
    ADD_FAILURE() << "no call recorded";
    return 0;
}

template <class Field> void put_at(std::vector<uint8_t> &bytes, uint64_t offset, Field value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// The first word of the first call, made another.
void other_first_word(std::vector<uint8_t> &bytes) {
    uint64_t word = first_call(bytes) + 1 + sizeof(RecordedCallHead);
    put_at(bytes, word, uint32_t{0x1234});
}
// The recorded exit status, made another.
void other_exit_status(std::vector<uint8_t> &bytes) { put_at(bytes, bytes.size() - sizeof(int32_t), int32_t{77}); }

struct Divergence {
    const char *name;
    std::vector<std::string> recorded_args;
    std::vector<std::string> replayed_args;
    void (*change)(std::vector<uint8_t> &);  // the recording changed before the replay, when set
    const char *replayed_program;            // in place of the fixture, when set
    const char *message;                     // a pattern for kivrun's one line
};

void PrintTo(const Divergence &row, std::ostream *out) { *out << row.name; }

const Divergence kDivergences[] = {
    {"another-program",
     {},
     {},
     nullptr,
     "fx_rdtsc",
     R"(replay diverges before the first instruction: the recording is of another program \(image of \d+ bytes, )"
     R"(hash 0x[0-9a-f]+; this one \d+ bytes, hash 0x[0-9a-f]+\))"},
    {"another-argument",
     {"child", "3"},
     {"child", "4"},
     nullptr,
     nullptr,
     "replay diverges before the first instruction: argument 2 differs: expected '3', found '4'"},
    {"one-more-argument",
     {},
     {"x"},
     nullptr,
     nullptr,
     "replay diverges before the first instruction: argument 1 differs: expected none, found 'x'"},
    {"another-call",
     {},
     {},
     other_first_word,
     nullptr,
     R"(replay diverges at system call #1, block \d+ \(recorded at block \d+\): expected open\(0x1234, 0x0, 0x0\), )"
     R"(found open\(0x[0-9a-f]+, 0x0, 0x0\))"},
    {"another-end",
     {},
     {},
     other_exit_status,
     nullptr,
     R"(replay diverges at system call #\d+, block \d+ \(recorded at block \d+\): expected the end of the run by an )"
     R"(exit with status 77, found the end of the run by an exit with status \d+)"},
};

class ReplayDivergence : public testing::TestWithParam<Divergence> {};

TEST_P(ReplayDivergence, StopsAtTheFirstDifference) {
    const Divergence &row = GetParam();
    World world;
    std::filesystem::copy_file(guest_program(kFixture), world.program(kFixture));
    world.sandbox.write("input.txt", kFirstText);
    CommandRun recorded = run_recorded(world, "--record=", {}, world.program(kFixture), row.recorded_args);
    ASSERT_TRUE(recorded.err.empty()) << recorded.err;
    if (row.change != nullptr) {
        auto bytes = recording_bytes(world.recording() + "/0");
        row.change(bytes);
        write_bytes(world.recording() + "/0", bytes);
    }
    std::string program = row.replayed_program != nullptr ? guest_program(row.replayed_program)
                                                          : world.program(kFixture);
    if (row.replayed_program != nullptr) {
        std::filesystem::remove(world.program(kFixture));
        std::filesystem::copy_file(program, world.program(kFixture));
    }
    CommandRun replayed = run_recorded(world, "--replay=", {}, world.program(kFixture), row.replayed_args);
    EXPECT_EQ(replayed.status, kExitDiverged);
    EXPECT_TRUE(std::regex_match(replayed.err, std::regex("kivrun: .*" + std::string(row.message) + "\n")))
        << replayed.err;
}

INSTANTIATE_TEST_SUITE_P(Runs, ReplayDivergence, testing::ValuesIn(kDivergences), kCaseName);

// A recording of the fixture, parent and child, made once for the reader's tests.
class RecordedFixture : public testing::Test {
protected:
    static void SetUpTestSuite() {
        world_ = new World;
        std::filesystem::copy_file(guest_program(kFixture), world_->program(kFixture));
        world_->sandbox.write("input.txt", kFirstText);
        run_recorded(*world_, "--record=", {}, world_->program(kFixture), {});
        for (const auto &entry : std::filesystem::directory_iterator(world_->recording()))
            (entry.path().filename() == "0" ? parent_ : child_) = recording_bytes(entry.path().string());
    }
    static void TearDownTestSuite() { delete world_; }

    static World *world_;
    static std::vector<uint8_t> parent_, child_;
};
World *RecordedFixture::world_;
std::vector<uint8_t> RecordedFixture::parent_, RecordedFixture::child_;

// Every field the reader checks, broken in turn.
struct Damage {
    const char *name;
    bool child;  // in the child's recording, which holds the image
    void (*change)(std::vector<uint8_t> &);
    const char *error;  // the start of the reader's one line
};

void PrintTo(const Damage &row, std::ostream *out) { *out << row.name; }

constexpr uint64_t kFirstArgument = sizeof(RecordingHeader);

uint64_t events_offset(const std::vector<uint8_t> &bytes) {
    std::string error;
    return parse_recording(bytes, error)->events_offset;
}
uint64_t first_range(const std::vector<uint8_t> &bytes) {
    std::string error;
    auto recording = parse_recording(bytes, error);
    RecordingCursor cursor = recording->events();
    for (uint64_t at = cursor.offset(); auto event = cursor.next(error); at = cursor.offset())
        if (event->kind == EventKind::Call && event->call.head.range_count > 0)
            return at + 1 + sizeof(RecordedCallHead) + event->call.head.word_count * sizeof(uint32_t);
    return 0;
}

const Damage kDamages[] = {
    {"magic", false, [](auto &bytes) { bytes[0] = 'X'; }, "not a kivrun recording"},
    {"version", false, [](auto &bytes) { put_at(bytes, offsetof(RecordingHeader, version), uint32_t{2}); },
     "recording version 2, this kivrun reads 1"},
    {"no-arguments", false, [](auto &bytes) { put_at(bytes, offsetof(RecordingHeader, argument_count), uint32_t{0}); },
     "bad argument count 0"},
    {"too-many-arguments", false,
     [](auto &bytes) { put_at(bytes, offsetof(RecordingHeader, argument_count), uint32_t{UINT32_MAX}); },
     "bad argument count 4294967295"},
    {"unknown-flags", false, [](auto &bytes) { put_at(bytes, offsetof(RecordingHeader, flags), uint32_t{0x80}); },
     "unknown recording flags 128"},
    {"argument-past-the-end", false, [](auto &bytes) { put_at(bytes, kFirstArgument, uint32_t{0xfffffff0}); },
     "text longer than the file"},
    {"image-past-the-end", true,
     [](auto &bytes) { put_at(bytes, offsetof(RecordingHeader, image_size), uint64_t{1} << 40); },
     "image longer than the file"},
    {"image-changed", true, [](auto &bytes) { bytes[events_offset(bytes) - 1] ^= 1; },
     "the image does not match its hash"},
    {"unknown-event", false, [](auto &bytes) { bytes[events_offset(bytes)] = 9; }, "unknown event kind 9"},
    {"seven-words", false,
     [](auto &bytes) { bytes[first_call(bytes) + 1 + offsetof(RecordedCallHead, word_count)] = 7; }, "bad call record"},
    {"unknown-call-flags", false,
     [](auto &bytes) { bytes[first_call(bytes) + 1 + offsetof(RecordedCallHead, flags)] = 0x80; }, "bad call record"},
    {"range-past-the-end", false, [](auto &bytes) { put_at(bytes, first_range(bytes), uint32_t{kMaxRecordedLength}); },
     "truncated event"},
    {"unknown-stop", false,
     [](auto &bytes) { bytes[bytes.size() - sizeof(RecordedEnd) + offsetof(RecordedEnd, stop)] = 9; },
     "bad end record"},
    {"bytes-after-the-end", false, [](auto &bytes) { bytes.push_back(0); }, "bytes after the end of the run"},
};

class RecordingDamage : public RecordedFixture, public testing::WithParamInterface<Damage> {};

TEST_P(RecordingDamage, IsRefusedWithOneLine) {
    const Damage &row = GetParam();
    std::vector<uint8_t> bytes = row.child ? child_ : parent_;
    std::string error;
    ASSERT_TRUE(parse_recording(bytes, error)) << error;
    row.change(bytes);
    EXPECT_FALSE(parse_recording(bytes, error));
    EXPECT_EQ(error.rfind(row.error, 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Fields, RecordingDamage, testing::ValuesIn(kDamages), kCaseName);

TEST_F(RecordedFixture, EveryShorterPrefixIsRefused) {
    for (const auto *whole : {&parent_, &child_}) {
        ASSERT_GT(whole->size(), sizeof(RecordingHeader));
        for (size_t length = 0; length < whole->size(); length++) {
            std::string error;
            EXPECT_FALSE(parse_recording({whole->begin(), whole->begin() + static_cast<std::ptrdiff_t>(length)}, error))
                << length;
            EXPECT_FALSE(error.empty());
        }
    }
}

// The command refuses what the reader refuses, and what is no recording file.
struct Refusal {
    const char *name;
    void (*make)(const std::string &file, const std::vector<uint8_t> &good);
    const char *message;  // after "kivrun: cannot replay DIR/0: "
};

void PrintTo(const Refusal &row, std::ostream *out) { *out << row.name; }

const Refusal kRefusals[] = {
    {"truncated",
     [](const std::string &file, const std::vector<uint8_t> &good) {
         write_bytes(file, {good.begin(), good.end() - 3});
     },
     "truncated event at byte \\d+ \\(the recording is cut short or damaged\\)"},
    {"oversized",
     [](const std::string &file, const std::vector<uint8_t> &good) {
         write_bytes(file, good);
         std::filesystem::resize_file(file, kMaxRecordingBytes + 1);
     },
     "larger than a recording may be \\(1073741824 bytes\\)"},
    {"missing", [](const std::string &file, const std::vector<uint8_t> &) { std::filesystem::remove(file); },
     "No such file or directory"},
    {"fifo",
     [](const std::string &file, const std::vector<uint8_t> &) {
         std::filesystem::remove(file);
         mkfifo(file.c_str(), 0600);
     },
     "not a regular file"},
};

class ReplayRefusal : public RecordedFixture, public testing::WithParamInterface<Refusal> {};

TEST_P(ReplayRefusal, EndsWithOneLineAndStatus125) {
    const Refusal &row = GetParam();
    World world;
    std::filesystem::copy_file(guest_program(kFixture), world.program(kFixture));
    std::filesystem::create_directory(world.recording());
    std::string file = world.recording() + "/0";
    row.make(file, parent_);
    CommandRun replayed = run_recorded(world, "--replay=", {}, world.program(kFixture), {});
    EXPECT_EQ(replayed.status, kExitHostError);
    EXPECT_TRUE(std::regex_match(replayed.err, std::regex("kivrun: cannot replay " + file + ": " + row.message + "\n")))
        << replayed.err;
    EXPECT_TRUE(replayed.out.empty());
}

INSTANTIATE_TEST_SUITE_P(Files, ReplayRefusal, testing::ValuesIn(kRefusals), kCaseName);

}  // namespace
}  // namespace kiv::test
