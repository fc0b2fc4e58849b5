// The recording side of a run: after each call's handler, its answer and
// the bytes it left in guest memory go to the recording, and so does each
// value the guest's rdtsc reads.
#pragma once

#include <optional>

#include "dispatch/recording.h"
#include "machine/cpu.h"
#include "machine/tsc.h"
#include "os/process.h"
#include "os/syscalls.h"

namespace kiv {

class Recorder : public TimeStamps {
public:
    // The counter reads `sequence` when set, the host's counter otherwise.
    Recorder(RecordingWriter &writer, const Cpu &cpu, std::optional<TscSequence> sequence)
        : writer_(writer), cpu_(cpu), sequence_(sequence) {}

    void call(const SyscallEntry &entry, const SyscallArgs &words, const Process &process, const SyscallResult &result,
              bool injected);
    std::optional<uint64_t> read() override;

private:
    RecordingWriter &writer_;
    const Cpu &cpu_;
    std::optional<TscSequence> sequence_;
    uint64_t reads_ = 0;
};

// How a stop is kept in a recording: with the blocks that ran, given
// the blocks the CPU began.
RecordedEnd recorded_end(const Stop &stop, uint64_t block);

}  // namespace kiv
