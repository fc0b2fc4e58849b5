// A process's run under --record or --replay: its recording opened (and,
// for a replay, its program and arguments checked against it), the
// recorder or replayer handed to the CPU and the dispatcher, and the end
// of the run kept or compared.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dispatch/dispatcher.h"
#include "dispatch/recorder.h"
#include "dispatch/recording.h"
#include "dispatch/replayer.h"
#include "machine/cpu.h"
#include "run/children.h"
#include "run/run_options.h"

namespace kiv {

// Why a recorded or replayed run cannot go on, or ended otherwise than recorded.
struct RecordingProblem {
    enum class Kind { Unusable, Diverged } kind;
    std::string message;
};

class RecordedRun {
public:
    explicit RecordedRun(const RunSettings &settings) : settings_(settings.recording), tsc_(settings.tsc) {}
    RecordedRun(const RecordedRun &) = delete;
    RecordedRun &operator=(const RecordedRun &) = delete;

    bool active() const { return settings_.mode != RecordingSettings::Mode::Off; }
    // Creates the recording, or reads the one to replay and checks that it
    // is of this image and these arguments.
    // A spawned process's recording holds its image too.
    std::optional<RecordingProblem> open(const std::string &program, std::span<const uint8_t> image,
                                         const std::vector<std::string> &argv, bool spawned);
    // Hands the recorder or replayer to the CPU and the dispatcher; a
    // replay's children are replayed through `children`, when there are any.
    void attach(Cpu &cpu, Dispatcher &dispatcher, HostChildren *children);
    // The block at which the replayed run was stopped from outside, if it was.
    std::optional<uint64_t> stop_block() const;
    // The process id the recording was made under, when replaying.
    std::optional<int32_t> recorded_pid() const;
    // The run's stop as the recording keeps it (a replay stopped where the
    // recorded run was stopped from outside gets the recorded stop back).
    Stop finish(const Cpu &cpu, const Stop &stop);
    const std::optional<RecordingProblem> &problem() const { return problem_; }
    // The replayer, when replaying.
    Replayer *replayer() { return replayer_ ? &*replayer_ : nullptr; }

private:
    std::string path() const;

    RecordingSettings settings_;
    std::optional<TscSequence> tsc_;
    RecordingWriter writer_;
    std::optional<Recording> recording_;
    std::optional<Recorder> recorder_;
    std::optional<Replayer> replayer_;
    std::unique_ptr<ReplayedChildren> children_;
    std::optional<RecordingProblem> problem_;
};

}  // namespace kiv
