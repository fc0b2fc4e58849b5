// What a run is given: the settings every process of the run shares (a
// spawned process gets them through its start record, unchanged), and what
// belongs to the first process's caller alone.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "coverage/coverage.h"
#include "dispatch/inject.h"
#include "dispatch/trace.h"
#include "machine/memory_map.h"
#include "machine/tsc.h"
#include "os/nic.h"

namespace kiv {

struct Inheritance;

// Recording a run, or replaying one (docs/replay.md): each process of the
// run has its own recording, named by its place in the tree, in one directory.
struct RecordingSettings {
    enum class Mode : uint8_t { Off, Record, Replay };
    Mode mode = Mode::Off;
    std::string directory;   // absolute
    std::string name = "0";  // this process's recording in it: "0" for the first process, else its id
};

// What a child spawned by a process run under `parent` records: a recorded
// child names its recording by its own id, which the parent's recording
// holds as the spawn's answer. (A replay starts its children itself.)
inline RecordingSettings child_recording(const RecordingSettings &parent) {
    if (parent.mode != RecordingSettings::Mode::Record) return {};
    RecordingSettings child = parent;
    child.name.clear();
    return child;
}

struct RunSettings {
    NicConfig nic;
    TraceSettings trace_settings;  // the trace's form
    InjectionSettings injection;   // applied whether or not the run is traced
    std::optional<double> timeout_seconds;
    uint64_t block_limit = 0;        // executed basic blocks; 0 = none
    bool skip_sleeps = false;        // usleep returns at once
    std::optional<TscSequence> tsc;  // rdtsc answers; the host's counter when unset
    CoverageSettings coverage;       // the record the run's counts are added to
    // The kivrun that runs spawned programs; none (spawn fails with ENOSYS)
    // unless the embedding names one: a library user must not start itself.
    std::string runner;
    RecordingSettings recording;
};

struct RunOptions {
    RunSettings settings;         // handed to every spawned process
    std::string root = ".";       // the guest's file system root
    FILE *trace = nullptr;        // system-call trace, when set
    FILE *diagnostics = nullptr;  // why a host facility failed the guest, when set
    int console_in = 0;           // host descriptors behind guest 0, 1, 2
    int console_out = 1;
    int console_err = 2;
    std::optional<uint16_t> gdb_port;           // wait for gdb there before the first instruction (0: any free port)
    uint64_t memory_limit = kDefaultRunMemory;  // bytes the whole run may hold (the first program sets it)
    // The caller exits right after the run: the emulator and the guest's
    // memory are left for the host to reclaim instead of being torn down.
    bool exit_after_run = false;
    const Inheritance *inherited = nullptr;  // set for a spawned program only
    // Readable once the process is asked to stop (its parent ended): it
    // stops as at the time limit, and still records its coverage. -1: none.
    int stop_fd = -1;
    // AFL++'s coverage map (its shared-memory segment): the run is AFL++'s
    // target (run/afl.h).
    std::optional<int> afl_shm_id;
};

}  // namespace kiv
