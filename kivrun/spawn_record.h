// The start record a spawned kivrun reads: what its parent hands down,
// written to an anonymous memory file whose descriptor the child inherits.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "coverage/coverage.h"
#include "nic.h"
#include "process_tree.h"
#include "tsc.h"

namespace kiv {

struct SpawnRecord {
    pid_t parent = 0;              // the child gives up when it is no longer its parent's
    std::string program;           // the guest path as the parent named it
    std::vector<uint8_t> image;    // the executable's bytes, as the parent validated them
    std::vector<std::string> argv;
    Inheritance inherited;
    int trace_fd = -1;
    std::vector<std::string> trace_options;  // the trace's form and the injections, as option words
    bool diagnostics = false;      // the child tells its standard error about host failures
    // The run's settings, as the first program got them.
    NicConfig nic;
    std::optional<TscSequence> tsc;
    uint64_t block_limit = 0;
    bool skip_sleeps = false;
    std::optional<double> timeout_seconds;
    std::string runner;
    CoverageSettings coverage;
};

// An anonymous memory file holding the record; -1 with errno set on failure.
int write_spawn_record(const SpawnRecord &record);
// The record in `fd`; nullopt when it cannot be read whole.
std::optional<SpawnRecord> read_spawn_record(int fd);
// The record these bytes hold; nullopt unless they hold exactly one, with
// every field valid.
std::optional<SpawnRecord> parse_spawn_record(std::string_view bytes);
std::string spawn_record_bytes(const SpawnRecord &record);

}  // namespace kiv
