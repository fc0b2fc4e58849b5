// The recording reader on any bytes: it refuses with one line, or accepts
// a recording whose every event reads back in order up to the end record,
// which closes the file.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/recording.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string error;
    auto recording = kiv::parse_recording(std::vector<uint8_t>(data, data + size), error);
    if (!recording) {
        kiv::fuzz::require(kiv::fuzz::one_line(error));
        return 0;
    }
    kiv::RecordingCursor cursor = recording->events();
    uint64_t events = 0;
    std::optional<kiv::RecordedEvent> event;
    do {
        event = cursor.next(error);
        kiv::fuzz::require(event.has_value());
        events++;
    } while (event->kind != kiv::EventKind::End);
    kiv::fuzz::require(cursor.at_end() && events == recording->event_count);
    kiv::fuzz::require(recording->program.image.size() <= size && !recording->program.argv.empty());
    return 0;
}
