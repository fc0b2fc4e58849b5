#include "run/recorded_run.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#include "support/text.h"

namespace kiv {

namespace {

// A recording that cannot be made or read: as a bad trace or coverage file.
RecordingProblem unusable(std::string message) { return {RecordingProblem::Kind::Unusable, std::move(message)}; }
RecordingProblem diverged(std::string message) { return {RecordingProblem::Kind::Diverged, std::move(message)}; }

// The first difference between the recorded program and this one.
std::optional<std::string> program_difference(const RecordedProgram &recorded, std::span<const uint8_t> image,
                                              const std::vector<std::string> &argv) {
    if (recorded.image_size != image.size() || recorded.image_hash != image_hash(image))
        return "the recording is of another program (image of " + std::to_string(recorded.image_size) +
               " bytes, hash " + hex(recorded.image_hash) + "; this one " + std::to_string(image.size()) +
               " bytes, hash " + hex(image_hash(image)) + ")";
    for (size_t i = 0; i < std::max(recorded.argv.size(), argv.size()); i++) {
        const char *was = i < recorded.argv.size() ? recorded.argv[i].c_str() : nullptr;
        const char *is = i < argv.size() ? argv[i].c_str() : nullptr;
        if (was == nullptr || is == nullptr || recorded.argv[i] != argv[i])
            return "argument " + std::to_string(i) + " differs: expected " +
                   (was != nullptr ? "'" + std::string(was) + "'" : std::string("none")) + ", found " +
                   (is != nullptr ? "'" + std::string(is) + "'" : std::string("none"));
    }
    return std::nullopt;
}

// The first process of a recorded run makes the directory; recordings of
// an earlier run there are replaced.
std::optional<RecordingProblem> prepare_directory(const std::string &directory) {
    std::error_code error;
    std::filesystem::create_directory(directory, error);
    if (error || !std::filesystem::is_directory(directory, error))
        return unusable("cannot make the recording directory " + directory +
                        (error ? ": " + error.message() : ": not a directory"));
    for (const auto &entry : std::filesystem::directory_iterator(directory, error)) {
        std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789.") == std::string::npos) std::filesystem::remove(entry.path(), error);
    }
    return std::nullopt;
}

// Each child's replay reads the recording its recorded run made.
class ChildReplays : public ReplayedChildren {
public:
    ChildReplays(HostChildren &children, const RecordingSettings &parent) : children_(children), parent_(parent) {}

    std::optional<std::string> start(int32_t pid) override {
        RecordingSettings recording = parent_;
        recording.name = std::to_string(pid);
        std::string path = recording.directory + "/" + recording.name, error;
        auto child = read_recording(path, error);
        if (!child) return "cannot replay " + path + ": " + error;
        if (child->program.image.empty()) return path + " holds no program image";
        const RecordedProgram &program = child->program;
        SyscallResult started = children_.replay(program.name, {program.image.begin(), program.image.end()},
                                                 program.argv, recording);
        if (started.value < 0) return "cannot start the replay of " + path + ": " + std::strerror(started.error);
        replays_[pid] = started.value;
        return std::nullopt;
    }

    void finish(int32_t pid) override {
        auto replay = replays_.find(pid);
        if (replay == replays_.end()) return;
        int32_t status = 0;
        children_.wait(replay->second, false, status);
        replays_.erase(replay);
    }

private:
    HostChildren &children_;
    RecordingSettings parent_;
    std::map<int32_t, int32_t> replays_;  // recorded id -> the replay's
};

}  // namespace

std::string RecordedRun::path() const {
    return settings_.directory + "/" + (settings_.name.empty() ? std::to_string(getpid()) : settings_.name);
}

std::optional<uint64_t> RecordedRun::stop_block() const {
    if (!replayer_) return std::nullopt;
    return replayer_->stop_block();
}

std::optional<int32_t> RecordedRun::recorded_pid() const {
    if (!recording_) return std::nullopt;
    return recording_->program.pid;
}

std::optional<RecordingProblem> RecordedRun::open(const std::string &program, std::span<const uint8_t> image,
                                                  const std::vector<std::string> &argv, bool spawned) {
    std::string error;
    if (settings_.mode == RecordingSettings::Mode::Record) {
        if (!spawned)
            if (auto problem = prepare_directory(settings_.directory)) return problem;
        RecordedProgram recorded{
            image.size(), image_hash(image), getpid(), program, argv, spawned ? image : std::span<const uint8_t>()};
        if (!writer_.open(path(), recorded, error)) return unusable(error);
    } else if (settings_.mode == RecordingSettings::Mode::Replay) {
        recording_ = read_recording(path(), error);
        if (!recording_) return unusable("cannot replay " + path() + ": " + error);
        if (auto difference = program_difference(recording_->program, image, argv))
            return diverged("replay diverges before the first instruction: " + *difference);
    }
    return std::nullopt;
}

void RecordedRun::attach(Cpu &cpu, Dispatcher &dispatcher, HostChildren *children) {
    if (!active()) return;
    cpu.count_executed_blocks();
    if (settings_.mode == RecordingSettings::Mode::Record) {
        Recorder &recorder = recorder_.emplace(writer_, cpu, tsc_);
        cpu.set_time_stamp_source(recorder);
        dispatcher.record_to(recorder);
        return;
    }
    Replayer &replayer = replayer_.emplace(*recording_, cpu);
    cpu.set_time_stamp_source(replayer);
    dispatcher.replay_from(replayer);
    if (children != nullptr) {
        children_ = std::make_unique<ChildReplays>(*children, settings_);
        replayer.replay_children(*children_);
    }
    // A stop from outside comes again at its block; the replay's own limit
    // is the recording's.
    cpu.set_block_limit(replayer.stop_block().value_or(0));
}

Stop RecordedRun::finish(const Cpu &cpu, const Stop &stop) {
    if (recorder_) {
        std::string error;
        if (!writer_.end(recorded_end(stop, cpu.blocks()), error)) problem_ = unusable(error);
        return stop;
    }
    if (!replayer_) return stop;
    Stop kept = replayer_->at_recorded_stop() ? replayer_->recorded_stop() : stop;
    replayer_->finish(kept);
    if (!replayer_->divergence().empty()) problem_ = diverged(replayer_->divergence());
    return kept;
}

}  // namespace kiv
