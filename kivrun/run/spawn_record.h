// The start record a spawned kivrun reads: what its parent hands down,
// written to an anonymous memory file whose descriptor the child inherits.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/child_processes.h"
#include "run/run_options.h"
#include "support/result.h"

namespace kiv {

using Deadline = std::chrono::steady_clock::time_point;

// The hidden argument that makes kivrun a spawned process; the start
// record's descriptor follows it.
inline constexpr const char *kSpawnedOption = "--spawned-process-record";

// What a spawned process gets from its parent besides the run's settings.
struct Inheritance {
    int root_fd = -1;
    std::string cwd = "/";
    std::vector<InheritedFd> fds;
    int shared_run_fd = -1;
    std::optional<Deadline> deadline;
};

struct SpawnRecord {
    pid_t parent = 0;            // the child gives up when it is no longer its parent's
    std::string program;         // the guest path as the parent named it
    std::vector<uint8_t> image;  // the executable's bytes, as the parent validated them
    std::vector<std::string> argv;
    Inheritance inherited;
    int trace_fd = -1;
    bool diagnostics = false;  // the child tells its standard error about host failures
    RunSettings settings;      // as the first program got them
};

// An anonymous memory file holding the record; -1 with errno set on failure.
int write_spawn_record(const SpawnRecord &record);
// The record in `fd`, refused when it cannot be read whole.
Result<SpawnRecord> read_spawn_record(int fd);
// The record these bytes hold, refused unless they hold exactly one with
// every field valid: each enumeration one of its values, each selection of
// calls known calls in ascending order.
Result<SpawnRecord> parse_spawn_record(std::string_view bytes);
std::string spawn_record_bytes(const SpawnRecord &record);

}  // namespace kiv
