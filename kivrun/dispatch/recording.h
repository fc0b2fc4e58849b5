// A recording of one process's run: the identity of its program and its
// arguments, then, in the order the program met them, every value that came
// from outside the machine (docs/replay.md shows the layout). The reader
// trusts nothing: every length is checked against its bound and against
// the bytes left, so a bad file is refused with one line and never read past.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "machine/syscall_types.h"

namespace kiv {

inline constexpr std::array<char, 8> kRecordingMagic = {'K', 'I', 'V', 'R', 'E', 'C', '\r', '\n'};
inline constexpr uint32_t kRecordingVersion = 1;
// Larger files are refused before they are read.
inline constexpr uint64_t kMaxRecordingBytes = uint64_t{1} << 30;
inline constexpr uint32_t kMaxRecordedArguments = 65536;
// Arguments and filled ranges lie in guest memory, itself under 4 GiB.
inline constexpr uint32_t kMaxRecordedLength = INT32_MAX;
inline constexpr uint8_t kMaxCallWords = 6;

// A 64-bit FNV-1a hash: tells one program image from another, not a
// safeguard against one made to collide.
uint64_t image_hash(std::span<const uint8_t> bytes);

// After the header: each argument as its length (uint32_t) and its bytes,
// the program's name the same way, and with kRecordingHasImage the image's
// bytes (image_size of them).
struct RecordingHeader {
    std::array<char, 8> magic;
    uint32_t version;
    uint32_t argument_count;
    uint64_t image_size;
    uint64_t image_hash;
    int32_t pid;     // the recorded process's, as its trace and its parent saw it
    uint32_t flags;  // kRecording* bits
};
static_assert(sizeof(RecordingHeader) == 40);

// A spawned process's recording holds its image: its replay cannot read
// the program's file, which may have changed since.
inline constexpr uint32_t kRecordingHasImage = 1;

enum class EventKind : uint8_t { Call = 1, TimeStamp = 2, End = 3 };

// Bits of RecordedCallHead::flags.
enum CallFlag : uint8_t {
    kCallEndsProcess = 1,
    kCallInjected = 2,  // an injection answered it, not the handler
    kCallConsole = 4,   // a write to the console, made again on replay
    kCallFlagsKnown = 7,
};

// After the kind byte; then word_count argument words (uint32_t each), then
// range_count filled ranges, each its length (uint32_t) and its bytes.
struct RecordedCallHead {
    uint64_t block;
    uint32_t number;
    int32_t value;
    int32_t error;
    uint8_t flags;
    uint8_t word_count;
    uint8_t range_count;
    uint8_t reserved;
};
static_assert(sizeof(RecordedCallHead) == 24);

// How the run ended; the last event.
enum class RecordedStop : uint8_t { Exited, Faulted, TimedOut, BlockLimit, Other };
struct RecordedEnd {
    uint64_t block;
    RecordedStop stop;
    std::array<uint8_t, 3> reserved;
    int32_t status;
};
static_assert(sizeof(RecordedEnd) == 16);

struct RecordedCall {
    RecordedCallHead head{};
    SyscallArgs words{};
    std::array<std::span<const uint8_t>, kMaxCallWords> ranges{};
};

struct RecordedEvent {
    EventKind kind;
    RecordedCall call;        // Call
    uint64_t time_stamp = 0;  // TimeStamp
    RecordedEnd end{};        // End
};

struct RecordedProgram {
    uint64_t image_size = 0;
    uint64_t image_hash = 0;
    int32_t pid = 0;
    std::string name;  // as run_image was given it
    std::vector<std::string> argv;
    std::span<const uint8_t> image;  // empty unless the recording holds it
};

// Reads events one after the other from bytes already checked whole by
// parse_recording (so that a replay never meets a bad one mid-run).
class RecordingCursor {
public:
    // Offsets, in messages too, count from the start of `bytes`.
    RecordingCursor(std::span<const uint8_t> bytes, uint64_t start) : bytes_(bytes), offset_(start) {}
    // The next event; nullopt with `error` set when the bytes do not hold one.
    std::optional<RecordedEvent> next(std::string &error);
    bool at_end() const { return offset_ == bytes_.size(); }
    uint64_t offset() const { return offset_; }
    // Goes back (or on) to an event boundary offset() gave before.
    void seek(uint64_t offset) { offset_ = offset < bytes_.size() ? offset : bytes_.size(); }

private:
    bool take(void *out, uint64_t length);
    std::optional<std::span<const uint8_t>> take_span(uint64_t length);
    bool read_call(RecordedCall &call, std::string &error);

    std::span<const uint8_t> bytes_;
    uint64_t offset_ = 0;
};

struct Recording {
    std::vector<uint8_t> bytes;
    RecordedProgram program;
    uint64_t events_offset = 0;
    uint64_t event_count = 0;
    RecordedEnd end{};

    RecordingCursor events() const { return RecordingCursor(bytes, events_offset); }
};

// The recording these bytes hold, checked from the first byte to the last;
// nullopt with a one-line `error` otherwise.
std::optional<Recording> parse_recording(std::vector<uint8_t> bytes, std::string &error);
// The same for the file at `path`.
std::optional<Recording> read_recording(const std::string &path, std::string &error);

class RecordingWriter {
public:
    RecordingWriter() = default;
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter &) = delete;
    RecordingWriter &operator=(const RecordingWriter &) = delete;

    // Creates (or empties) the file and writes the header; false with `error`.
    bool open(const std::string &path, const RecordedProgram &program, std::string &error);
    void call(const RecordedCall &call);
    void time_stamp(uint64_t value);
    // Writes the end and closes the file; false with `error` when any write failed.
    bool end(const RecordedEnd &end, std::string &error);

private:
    void put(const void *data, size_t length);
    void put_text(const std::string &text);
    void flush();
    FILE *file_ = nullptr;
    std::vector<char> buffer_;
};

}  // namespace kiv
