// A child's start record: the run's settings go through it as values.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>

#include "run/spawn_record.h"

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
        ASSERT_EQ(settings.trace_settings.apply_expression(expression), "");
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
    ASSERT_TRUE(got.has_value());
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
    ASSERT_EQ(trace.injections.size(), 2u);
    for (size_t i = 0; i < trace.injections.size(); i++) {
        const Injection &want = settings.trace_settings.injections[i], &have = trace.injections[i];
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

}  // namespace
}  // namespace kiv::test
