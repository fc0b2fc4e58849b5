// A start record is read back only when it holds what a parent can write:
// every enumeration one of its values, every selection of calls known calls
// in ascending order, a time limit a command line can give. And the hidden
// entry refuses a descriptor that is no number.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <regex>

#include "case_name.h"
#include "dispatch/expression.h"
#include "guest_runner.h"
#include "run/spawn_record.h"

namespace kiv::test {
namespace {

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
    {"selection_descending", [](RunSettings &s) { std::swap(s.trace_settings.selected[0], s.trace_settings.selected[1]); }},
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

// The hidden entry's descriptor is a plain decimal number, or kivrun says
// what it got instead of reading some other descriptor.
TEST(StartRecord, ADescriptorThatIsNoNumberIsNamed) {
    for (const char *word : {"", "x", "-1", "3x", "99999999999"}) {
        SCOPED_TRACE(word);
        CommandRun run = run_kivrun({kSpawnedOption, word});
        EXPECT_EQ(run.status, kExitHostError);
        EXPECT_TRUE(std::regex_match(run.err, std::regex(R"(kivrun: \[pid \d+\] no descriptor after )" +
                                                         std::string(kSpawnedOption) + ": '" + word + "'\n")))
            << run.err;
    }
}

TEST(StartRecord, AnUnreadableDescriptorIsAnUnreadableRecord) {
    CommandRun run = run_kivrun({kSpawnedOption, "987"});
    EXPECT_EQ(run.status, kExitHostError);
    EXPECT_TRUE(std::regex_match(run.err,
                                 std::regex(R"(kivrun: \[pid \d+\] unreadable start record of a spawned process\n)")))
        << run.err;
}

}  // namespace
}  // namespace kiv::test
