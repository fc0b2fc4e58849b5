#include "dispatch/trace_lines.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace kiv {

bool SharedTrace::init() {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0) return false;
    bool done = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                pthread_mutex_init(&lock, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return done;
}

std::string pid_tag(int pid) { return "[pid " + std::to_string(pid) + "] "; }

void TraceLines::open(OpenLine line) {
    open_.reset();
    // Kept without the tag: whoever shows it unfinished tags it.
    std::string shown = line.time + line.start;
    // A start too long to keep for others to show is shown unfinished at
    // once, when there are others; alone, the process writes its line whole.
    bool fits = shown.size() <= SharedTrace::kOpenCallBytes;
    if (!fits && process_.tag.empty()) return;
    SharedLock lock(shared_->lock, deadline_);
    if (!lock.held()) return;
    close_open_call();
    uint64_t opened_at = shared_->lines;
    if (fits) {
        std::memcpy(shared_->open_text, shown.data(), shown.size());
        shared_->open_length = static_cast<uint32_t>(shown.size());
        shared_->open_pid = process_.pid;
    } else {
        write_out(process_.tag + shown + " <unfinished ...>\n");
        shared_->lines++;
    }
    open_ = OpenCall{std::move(line), opened_at};
}

// The line is whole when nothing was written since the call began (the
// count of lines tells); otherwise its start was shown unfinished.
void TraceLines::finish(const std::string &name, const std::string &text, const std::string &prefix) {
    if (!open_) return write(prefix + text + "\n");
    OpenCall call = std::move(*open_);
    open_.reset();
    SharedLock lock(shared_->lock, deadline_);
    if (!lock.held()) return;
    if (shared_->lines == call.opened_at && shared_->open_pid == process_.pid) {
        shared_->open_pid = 0;
        write_out(process_.tag + call.line.time + text + "\n");
    } else {
        close_open_call();
        write_out(prefix + "<... " + name + " resumed>" + text.substr(std::min(call.line.start.size(), text.size())) +
                  "\n");
    }
    shared_->lines++;
}

void TraceLines::write(const std::string &bytes) {
    if (shared_ == nullptr) return write_out(bytes);
    SharedLock lock(shared_->lock, deadline_);
    if (!lock.held()) return;
    close_open_call();
    write_out(bytes);
    shared_->lines++;
}

// Another process's line is tagged: the run has several processes by now.
void TraceLines::close_open_call() {
    int32_t owner = shared_->open_pid;
    if (owner == 0) return;
    uint32_t length = std::min<uint32_t>(shared_->open_length, SharedTrace::kOpenCallBytes);
    std::string tag = owner == process_.pid ? process_.tag : pid_tag(owner);
    write_out(tag + std::string(shared_->open_text, length) + " <unfinished ...>\n");
    shared_->open_pid = 0;
    shared_->lines++;
}

// One write per line, to a descriptor opened for appending: a line never
// tears, and lines of processes sharing the trace never merge. Writers of
// the trace also take turns (the shared lock), so even on a pipe, where the
// host keeps only writes up to PIPE_BUF whole, trace lines never mix with
// one another; a longer line may still have other bytes written to the same
// pipe (the program's own standard error, say) land inside it.
void TraceLines::write_out(const std::string &bytes) const { write_trace_bytes(fileno(out_), bytes, deadline_); }

}  // namespace kiv
