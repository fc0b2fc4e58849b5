#include "dispatch/replayer.h"

#include <algorithm>

#include "dispatch/filled_ranges.h"
#include "dispatch/recorder.h"
#include "support/io.h"
#include "support/text.h"

namespace kiv {

namespace {

// Calls whose effect stays inside the machine: made again, and their answers
// checked against the recording.
constexpr uint32_t kPerformedAgain[] = {KIV_SYS_mmap, KIV_SYS_munmap};

bool performed_again(uint32_t number) {
    return std::find(std::begin(kPerformedAgain), std::end(kPerformedAgain), number) != std::end(kPerformedAgain);
}

std::string describe_call(uint32_t number, std::span<const uint32_t> words) {
    const SyscallEntry *entry = find_syscall(number);
    std::string text = entry != nullptr ? entry->name : "call " + std::to_string(number);
    text += "(";
    for (size_t i = 0; i < words.size(); i++) text += (i > 0 ? ", " : "") + hex(words[i]);
    return text + ")";
}

constexpr const char *kStopNames[] = {"an exit with status ", "a fault with status ", "the time limit",
                                      "the block limit", "a failure of the host"};

std::string describe_end(const RecordedEnd &end) {
    std::string text = std::string("the end of the run by ") + kStopNames[static_cast<uint8_t>(end.stop)];
    if (end.stop == RecordedStop::Exited || end.stop == RecordedStop::Faulted) text += std::to_string(end.status);
    return text;
}

std::string describe(const std::optional<RecordedEvent> &event) {
    if (!event) return "nothing more (the recording ends)";
    switch (event->kind) {
    case EventKind::Call:
        return describe_call(event->call.head.number,
                             std::span<const uint32_t>(event->call.words).first(event->call.head.word_count));
    case EventKind::TimeStamp: return "a read of the time-stamp counter";
    case EventKind::End: return describe_end(event->end);
    }
    return "?";
}

bool same_call(const RecordedCall &call, const SyscallEntry &entry, const SyscallArgs &words) {
    return call.head.number == entry.number && call.head.word_count == entry.arg_count &&
           std::equal(words.begin(), words.begin() + entry.arg_count, call.words.begin());
}

// A console write made again: to the same descriptor when the replay has it
// as a console one, otherwise to the replay's standard output.
void write_console(Process &process, uint32_t guest_fd, uint32_t address, int32_t length) {
    const FdTable::Descriptor *descriptor = process.fds.find(static_cast<int32_t>(guest_fd));
    int host = descriptor != nullptr && descriptor->console ? descriptor->host_fd : process.fds.host(1);
    auto bytes = process.memory.view(address, static_cast<uint32_t>(length), kAccessRead);
    if (host >= 0 && bytes)
        (void)write_all(host, std::string_view(reinterpret_cast<const char *>(bytes->data()), bytes->size()));
}

}  // namespace

void Replayer::seek(const Position &position) {
    cursor_.seek(position.offset);
    calls_ = position.calls;
    divergence_.clear();
}

void Replayer::diverge(const std::string &expected, const std::string &found, uint64_t block) {
    if (!divergence_.empty()) return;
    divergence_ = "replay diverges at system call #" + std::to_string(calls_ + 1) + ", block " +
                  std::to_string(cpu_.blocks()) + " (recorded at block " + std::to_string(block) + "): expected " +
                  expected + ", found " + found;
}

// The block an event was recorded at, as far as it keeps one.
uint64_t Replayer::block_of(const std::optional<RecordedEvent> &event) const {
    if (event && event->kind == EventKind::Call) return event->call.head.block;
    if (event && event->kind == EventKind::End) return event->end.block;
    return cpu_.blocks();
}

std::optional<RecordedEvent> Replayer::next_event() {
    std::string error;
    // parse_recording checked every event: only the end can be missing.
    return cursor_.next(error);
}

bool Replayer::write_back(const RecordedCall &call, const SyscallEntry &entry, const SyscallArgs &words,
                          Process &process) {
    FilledRanges filled = filled_ranges(entry, words, call.head.value);
    if (filled.count != call.head.range_count) return false;
    for (uint8_t i = 0; i < filled.count; i++) {
        std::span<const uint8_t> bytes = call.ranges[i];
        if (bytes.empty()) continue;
        if (bytes.size() != filled.ranges[i].length ||
            !process.memory.write(filled.ranges[i].address, bytes.data(), filled.ranges[i].length))
            return false;
    }
    return true;
}

SyscallResult Replayer::answer(const SyscallEntry &entry, const SyscallArgs &words, Process &process, bool &injected) {
    if (!divergence_.empty()) return process_end(0);
    auto made = [&] { return describe_call(entry.number, std::span<const uint32_t>(words).first(entry.arg_count)); };
    std::optional<RecordedEvent> event = next_event();
    if (!event || event->kind != EventKind::Call || !same_call(event->call, entry, words)) {
        diverge(describe(event), made(), block_of(event));
        return process_end(0);
    }
    const RecordedCallHead &head = event->call.head;
    if (performed_again(entry.number) && entry.handler(process, words).value != head.value)
        diverge(describe(event) + " = " + std::to_string(head.value), made() + " answering otherwise", head.block);
    if (divergence_.empty() && !write_back(event->call, entry, words, process))
        diverge(describe(event) + " filling guest memory", made() + " where that memory is not writable", head.block);
    if (!divergence_.empty()) return process_end(0);
    follow_children(event->call);
    if (!divergence_.empty()) return process_end(0);
    calls_++;
    injected = (head.flags & kCallInjected) != 0;
    // A debugger going back runs calls again: their output was made already.
    if ((head.flags & kCallConsole) != 0 && head.value > 0 && calls_ > echoed_calls_) {
        write_console(process, words[0], words[1], head.value);
        echoed_calls_ = calls_;
    }
    return {head.value, head.error, (head.flags & kCallEndsProcess) != 0};
}

// A child's replay starts where the recorded spawn started the child, and
// ends before the recorded wait for it returns.
void Replayer::follow_children(const RecordedCall &call) {
    const RecordedCallHead &head = call.head;
    if (children_ == nullptr || head.value <= 0) return;
    if (head.number == KIV_SYS_spawn || head.number == KIV_SYS_spawn_ex) {
        if (auto problem = children_->start(head.value))
            diverge("the recording of child " + std::to_string(head.value), *problem, head.block);
    } else if (head.number == KIV_SYS_waitpid) {
        children_->finish(head.value);
    }
}

std::optional<uint64_t> Replayer::read() {
    if (!divergence_.empty()) return std::nullopt;
    std::optional<RecordedEvent> event = next_event();
    if (event && event->kind == EventKind::TimeStamp) return event->time_stamp;
    diverge(describe(event), "a read of the time-stamp counter", block_of(event));
    return std::nullopt;
}

std::optional<uint64_t> Replayer::stop_block() const {
    const RecordedEnd &end = recording_.end;
    if (end.stop == RecordedStop::TimedOut || end.stop == RecordedStop::BlockLimit) return end.block;
    return std::nullopt;
}

Stop Replayer::recorded_stop() const {
    return Stop{recording_.end.stop == RecordedStop::TimedOut ? StopReason::TimedOut : StopReason::BlockLimit};
}

bool Replayer::at_recorded_stop() const {
    if (!divergence_.empty() || !stop_block()) return false;
    RecordingCursor ahead = cursor_;
    std::string error;
    std::optional<RecordedEvent> event = ahead.next(error);
    return event && event->kind == EventKind::End;
}

void Replayer::finish(const Stop &stop) {
    if (!divergence_.empty()) return;
    RecordedEnd now = recorded_end(stop, cpu_.blocks());
    std::optional<RecordedEvent> event = next_event();
    if (!event || event->kind != EventKind::End || event->end.stop != now.stop || event->end.status != now.status)
        diverge(describe(event), describe_end(now), block_of(event));
}

}  // namespace kiv
