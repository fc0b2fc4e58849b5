#include "dispatch/recording.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "support/file.h"

namespace kiv {

namespace {

constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;
constexpr size_t kWriteBuffer = 1 << 20;

std::nullopt_t refuse(std::string &error, std::string message) {
    error = std::move(message);
    return std::nullopt;
}

std::string at_byte(uint64_t offset) { return " at byte " + std::to_string(offset); }

bool known_stop(RecordedStop stop) { return static_cast<uint8_t>(stop) <= static_cast<uint8_t>(RecordedStop::Other); }

// A length-prefixed text at `offset`, which moves past it.
std::optional<std::string> read_text(std::span<const uint8_t> bytes, uint64_t &offset, std::string &error) {
    uint32_t length = 0;
    if (bytes.size() - offset < sizeof length) return refuse(error, "truncated" + at_byte(offset));
    std::memcpy(&length, bytes.data() + offset, sizeof length);
    offset += sizeof length;
    if (length > bytes.size() - offset) return refuse(error, "text longer than the file" + at_byte(offset));
    std::string text(reinterpret_cast<const char *>(bytes.data() + offset), length);
    offset += length;
    return text;
}

// The header, the arguments, the name and the image; the offset of the
// first event, or nullopt.
std::optional<uint64_t> read_program(std::span<const uint8_t> bytes, RecordedProgram &program, std::string &error) {
    RecordingHeader header;
    if (bytes.size() < sizeof header) return refuse(error, "too short for a kivrun recording");
    std::memcpy(&header, bytes.data(), sizeof header);
    if (header.magic != kRecordingMagic) return refuse(error, "not a kivrun recording");
    if (header.version != kRecordingVersion)
        return refuse(error, "recording version " + std::to_string(header.version) + ", this kivrun reads " +
                                 std::to_string(kRecordingVersion));
    if (header.argument_count == 0 || header.argument_count > kMaxRecordedArguments)
        return refuse(error, "bad argument count " + std::to_string(header.argument_count));
    if ((header.flags & ~kRecordingHasImage) != 0)
        return refuse(error, "unknown recording flags " + std::to_string(header.flags));
    program.image_size = header.image_size;
    program.image_hash = header.image_hash;
    program.pid = header.pid;
    uint64_t offset = sizeof header;
    for (uint32_t i = 0; i <= header.argument_count; i++) {
        auto text = read_text(bytes, offset, error);
        if (!text) return std::nullopt;
        (i < header.argument_count ? program.argv.emplace_back() : program.name) = std::move(*text);
    }
    if ((header.flags & kRecordingHasImage) == 0) return offset;
    if (header.image_size > bytes.size() - offset) return refuse(error, "image longer than the file" + at_byte(offset));
    program.image = bytes.subspan(offset, header.image_size);
    if (image_hash(program.image) != header.image_hash) return refuse(error, "the image does not match its hash");
    return offset + header.image_size;
}

}  // namespace

uint64_t image_hash(std::span<const uint8_t> bytes) {
    uint64_t hash = kFnvOffset;
    for (uint8_t byte : bytes) hash = (hash ^ byte) * kFnvPrime;
    return hash;
}

bool RecordingCursor::take(void *out, uint64_t length) {
    if (length > bytes_.size() - offset_) return false;
    std::memcpy(out, bytes_.data() + offset_, length);
    offset_ += length;
    return true;
}

std::optional<std::span<const uint8_t>> RecordingCursor::take_span(uint64_t length) {
    if (length > bytes_.size() - offset_) return std::nullopt;
    auto span = bytes_.subspan(offset_, length);
    offset_ += length;
    return span;
}

bool RecordingCursor::read_call(RecordedCall &call, std::string &error) {
    RecordedCallHead &head = call.head;
    if (!take(&head, sizeof head)) return false;
    if ((head.flags & ~kCallFlagsKnown) != 0 || head.word_count > kMaxCallWords || head.range_count > kMaxCallWords) {
        error = "bad call record" + at_byte(offset_ - sizeof head);
        return false;
    }
    if (!take(call.words.data(), uint64_t{head.word_count} * sizeof(uint32_t))) return false;
    for (uint8_t i = 0; i < head.range_count; i++) {
        uint32_t length = 0;
        if (!take(&length, sizeof length)) return false;
        auto range = length <= kMaxRecordedLength ? take_span(length) : std::nullopt;
        if (!range) return false;
        call.ranges[i] = *range;
    }
    return true;
}

std::optional<RecordedEvent> RecordingCursor::next(std::string &error) {
    uint64_t start = offset_;
    RecordedEvent event{};
    error.clear();
    bool whole = take(&event.kind, sizeof event.kind);
    if (whole) {
        switch (event.kind) {
        case EventKind::Call: whole = read_call(event.call, error); break;
        case EventKind::TimeStamp: whole = take(&event.time_stamp, sizeof event.time_stamp); break;
        case EventKind::End:
            whole = take(&event.end, sizeof event.end);
            if (whole && !known_stop(event.end.stop)) return refuse(error, "bad end record" + at_byte(start));
            break;
        default:
            return refuse(error,
                          "unknown event kind " + std::to_string(static_cast<unsigned>(event.kind)) + at_byte(start));
        }
    }
    if (!whole && error.empty()) error = "truncated event" + at_byte(start);
    if (!whole) return std::nullopt;
    return event;
}

std::optional<Recording> parse_recording(std::vector<uint8_t> bytes, std::string &error) {
    Recording recording;
    recording.bytes = std::move(bytes);
    auto events_offset = read_program(recording.bytes, recording.program, error);
    if (!events_offset) return std::nullopt;
    recording.events_offset = *events_offset;
    RecordingCursor cursor = recording.events();
    std::optional<RecordedEvent> event;
    do {
        event = cursor.next(error);
        if (!event) return refuse(error, error + " (the recording is cut short or damaged)");
        recording.event_count++;
    } while (event->kind != EventKind::End);
    if (!cursor.at_end()) return refuse(error, "bytes after the end of the run" + at_byte(cursor.offset()));
    recording.end = event->end;
    return recording;
}

std::optional<Recording> read_recording(const std::string &path, std::string &error) {
    std::error_code unknown;
    uint64_t size = std::filesystem::file_size(path, unknown);
    if (!unknown && size > kMaxRecordingBytes)
        return refuse(error, "larger than a recording may be (" + std::to_string(kMaxRecordingBytes) + " bytes)");
    Result<std::vector<uint8_t>> bytes = read_file(path, kMaxRecordingBytes);
    if (!bytes) {
        error = bytes.error();
        return std::nullopt;
    }
    return parse_recording(std::move(*bytes), error);
}

RecordingWriter::~RecordingWriter() {
    if (file_ != nullptr) fclose(file_);
}

bool RecordingWriter::open(const std::string &path, const RecordedProgram &program, std::string &error) {
    file_ = fopen(path.c_str(), "wbe");
    if (file_ == nullptr) {
        error = "cannot write the recording " + path + ": " + std::strerror(errno);
        return false;
    }
    buffer_.reserve(kWriteBuffer);
    RecordingHeader header{
        kRecordingMagic,    kRecordingVersion, static_cast<uint32_t>(program.argv.size()),    program.image_size,
        program.image_hash, program.pid,       program.image.empty() ? 0 : kRecordingHasImage};
    put(&header, sizeof header);
    for (const std::string &argument : program.argv) put_text(argument);
    put_text(program.name);
    put(program.image.data(), program.image.size());
    return true;
}

// Events are gathered here and written in large pieces: a call-heavy
// program makes millions of small ones.
void RecordingWriter::put(const void *data, size_t length) {
    if (buffer_.size() + length > kWriteBuffer) flush();
    if (length > kWriteBuffer) {
        fwrite(data, 1, length, file_);
        return;
    }
    const char *bytes = static_cast<const char *>(data);
    buffer_.insert(buffer_.end(), bytes, bytes + length);
}

void RecordingWriter::flush() {
    fwrite(buffer_.data(), 1, buffer_.size(), file_);
    buffer_.clear();
}

void RecordingWriter::put_text(const std::string &text) {
    uint32_t length = static_cast<uint32_t>(text.size());
    put(&length, sizeof length);
    put(text.data(), length);
}

void RecordingWriter::call(const RecordedCall &call) {
    EventKind kind = EventKind::Call;
    put(&kind, sizeof kind);
    put(&call.head, sizeof call.head);
    put(call.words.data(), call.head.word_count * sizeof(uint32_t));
    for (uint8_t i = 0; i < call.head.range_count; i++) {
        uint32_t length = static_cast<uint32_t>(call.ranges[i].size());
        put(&length, sizeof length);
        put(call.ranges[i].data(), length);
    }
}

void RecordingWriter::time_stamp(uint64_t value) {
    EventKind kind = EventKind::TimeStamp;
    put(&kind, sizeof kind);
    put(&value, sizeof value);
}

bool RecordingWriter::end(const RecordedEnd &end, std::string &error) {
    EventKind kind = EventKind::End;
    put(&kind, sizeof kind);
    put(&end, sizeof end);
    flush();
    bool written = ferror(file_) == 0;
    int closed = fclose(file_);
    file_ = nullptr;
    if (!written || closed != 0) error = std::string("cannot write the recording: ") + std::strerror(errno);
    return written && closed == 0;
}

}  // namespace kiv
