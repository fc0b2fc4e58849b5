// A child's start record: the run's settings go through it as values, and
// it is read back only when it holds what a parent can write: every
// enumeration one of its values, every selection of calls known calls in
// ascending order, a time limit a command line can give.
#include "run/spawn_record.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>

#include "case_name.h"
#include "dispatch/expression.h"

namespace kiv::test {
namespace {

// A child gets the run's settings through its start record, as values:
// every one survives the trip, and a cut record is refused.
TEST(Processes, TheStartRecordCarriesTheRunsSettings) {
    SpawnRecord sent{.parent = 42, .program = "/bin/x", .image = {1, 2, 3}, .argv = {"x", "y"}};
    sent.inherited = {5, "/sub", {{0, 7, true}, {3, 9, false}}, 11, std::chrono::steady_clock::now()};
    sent.trace_fd = 13;
    sent.diagnostics = true;
    RunSettings &settings = sent.settings;
    settings.nic.source = NicSource::Host;
    settings.nic.simulated.mac[5] = 0x99;
    settings.nic.sysfs_root = "/fake/sys";
    for (const char *expression : {"trace=write,exit", "inject=write:error=EIO:when=3+", "inject=read:short=1"})
        ASSERT_TRUE(apply_expression(expression, settings.trace_settings, settings.injection));
    settings.trace_settings.enabled = settings.trace_settings.times = settings.trace_settings.epoch_times = true;
    settings.trace_settings.format = TraceFormat::Json;
    settings.trace_settings.string_limit = 7;
    settings.timeout_seconds = 2.5;
    settings.block_limit = 1000;
    settings.skip_sleeps = true;
    settings.tsc = TscSequence{10, 3};
    settings.runner = "/usr/bin/kivrun";

    int fd = write_spawn_record(sent);
    ASSERT_GE(fd, 0);
    auto got = read_spawn_record(fd);
    ASSERT_TRUE(got.has_value()) << got.error();
    EXPECT_EQ(got->parent, sent.parent);
    EXPECT_EQ(got->image, sent.image);
    EXPECT_EQ(got->argv, sent.argv);
    EXPECT_EQ(got->inherited.cwd, "/sub");
    ASSERT_EQ(got->inherited.fds.size(), 2u);
    EXPECT_EQ(got->inherited.fds[1].host, 9);
    EXPECT_TRUE(got->inherited.fds[0].console);
    EXPECT_EQ(got->inherited.deadline, sent.inherited.deadline);
    EXPECT_EQ(got->trace_fd, 13);
    const RunSettings &arrived = got->settings;
    EXPECT_EQ(arrived.nic.source, NicSource::Host);
    EXPECT_EQ(arrived.nic.simulated.mac[5], 0x99);
    EXPECT_EQ(arrived.nic.sysfs_root, "/fake/sys");
    const TraceSettings &trace = arrived.trace_settings;
    EXPECT_TRUE(trace.enabled && trace.times && trace.epoch_times && !trace.summary_only);
    EXPECT_EQ(trace.format, TraceFormat::Json);
    EXPECT_EQ(trace.string_limit, 7u);
    EXPECT_EQ(trace.selected, settings.trace_settings.selected);
    const std::vector<Injection> &injections = arrived.injection.injections;
    ASSERT_EQ(injections.size(), 2u);
    for (size_t i = 0; i < injections.size(); i++) {
        const Injection &want = settings.injection.injections[i], &have = injections[i];
        EXPECT_EQ(have.calls, want.calls);
        EXPECT_EQ(have.kind, want.kind);
        EXPECT_EQ(have.value, want.value);
        EXPECT_EQ(have.first, want.first);
        EXPECT_EQ(have.step, want.step);
    }
    EXPECT_EQ(arrived.timeout_seconds, 2.5);
    EXPECT_EQ(arrived.block_limit, 1000u);
    EXPECT_TRUE(arrived.skip_sleeps);
    ASSERT_TRUE(arrived.tsc.has_value());
    EXPECT_EQ(arrived.tsc->at(2), 16u);
    EXPECT_EQ(arrived.runner, "/usr/bin/kivrun");

    struct stat info;
    ASSERT_EQ(fstat(fd, &info), 0);
    ASSERT_EQ(ftruncate(fd, info.st_size - 1), 0);
    EXPECT_FALSE(read_spawn_record(fd).has_value());
    close(fd);
}

// The settings of a run that uses every field the checks look at.
SpawnRecord sound_record() {
    SpawnRecord record{.parent = 1, .program = "/p", .image = {1}, .argv = {"p"}};
    RunSettings &settings = record.settings;
    for (const char *expression : {"trace=write,exit", "inject=read:short=1:when=2+", "inject=!all:retval=0"})
        EXPECT_TRUE(apply_expression(expression, settings.trace_settings, settings.injection)) << expression;
    settings.timeout_seconds = 1.5;
    settings.coverage.format = CoverageFormat::Drcov;
    return record;
}

struct Damage {
    const char *name;
    std::function<void(RunSettings &)> apply;
};

// Each writes a record no parent writes; the writer copies enumerations as
// their bytes, so an unknown value reaches the reader as one would.
const Damage kDamages[] = {
    {"nic_source", [](RunSettings &s) { s.nic.source = static_cast<NicSource>(3); }},
    {"trace_format", [](RunSettings &s) { s.trace_settings.format = static_cast<TraceFormat>(-1); }},
    {"injection_kind", [](RunSettings &s) { s.injection.injections[0].kind = static_cast<Injection::Kind>(3); }},
    {"coverage_format", [](RunSettings &s) { s.coverage.format = static_cast<CoverageFormat>(2); }},
    {"selection_descending",
     [](RunSettings &s) { std::swap(s.trace_settings.selected[0], s.trace_settings.selected[1]); }},
    {"selection_twice", [](RunSettings &s) { s.trace_settings.selected[1] = s.trace_settings.selected[0]; }},
    {"selection_unknown_call", [](RunSettings &s) { s.trace_settings.selected.push_back(UINT32_MAX); }},
    {"injection_calls_descending",
     [](RunSettings &s) {
         std::vector<uint32_t> &calls = s.injection.injections[0].calls;
         calls = s.trace_settings.selected;  // two known calls, ascending
         std::reverse(calls.begin(), calls.end());
     }},
    {"injection_unknown_call", [](RunSettings &s) { s.injection.injections[0].calls.push_back(UINT32_MAX); }},
    {"injection_never_first", [](RunSettings &s) { s.injection.injections[0].first = 0; }},
    {"injection_negative_value", [](RunSettings &s) { s.injection.injections[1].value = -1; }},
    {"timeout_not_a_number", [](RunSettings &s) { s.timeout_seconds = std::nan(""); }},
    {"timeout_infinite", [](RunSettings &s) { s.timeout_seconds = INFINITY; }},
    {"timeout_zero", [](RunSettings &s) { s.timeout_seconds = 0.0; }},
};

TEST(StartRecord, ASoundRecordReadsBackAsWritten) {
    SpawnRecord record = sound_record();
    ASSERT_EQ(record.settings.trace_settings.selected.size(), 2u);
    ASSERT_EQ(record.settings.injection.injections.size(), 2u);
    std::string bytes = spawn_record_bytes(record);
    Result<SpawnRecord> back = parse_spawn_record(bytes);
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(spawn_record_bytes(*back), bytes);
    EXPECT_TRUE(back->settings.injection.injections[1].calls.empty());  // !all selects nothing, and still reads
}

class DamagedRecord : public testing::TestWithParam<Damage> {};

TEST_P(DamagedRecord, IsRefused) {
    SpawnRecord record = sound_record();
    GetParam().apply(record.settings);
    Result<SpawnRecord> back = parse_spawn_record(spawn_record_bytes(record));
    ASSERT_FALSE(back);
    EXPECT_EQ(back.error().find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Settings, DamagedRecord, testing::ValuesIn(kDamages), kCaseName);

}  // namespace
}  // namespace kiv::test
