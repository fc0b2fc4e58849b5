// The spawn record reader on any bytes: it answers one whole, valid record
// or a one-line refusal, and a record it answers is written back as the
// same bytes and holds only what a command line can give: known enumerators,
// selections of known calls in ascending order, a finite time limit.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "os/syscalls.h"
#include "run/spawn_record.h"

namespace {

using kiv::fuzz::require;

// Each switch names every enumerator, so that a new one warns here first.
bool known(kiv::NicSource source) {
    switch (source) {
    case kiv::NicSource::Simulated:
    case kiv::NicSource::Host:
    case kiv::NicSource::Absent: return true;
    }
    return false;
}

bool known(kiv::TraceFormat format) {
    switch (format) {
    case kiv::TraceFormat::Text:
    case kiv::TraceFormat::Json: return true;
    }
    return false;
}

bool known(kiv::Injection::Kind kind) {
    switch (kind) {
    case kiv::Injection::Kind::Error:
    case kiv::Injection::Kind::Retval:
    case kiv::Injection::Kind::Short: return true;
    }
    return false;
}

bool known(kiv::CoverageFormat format) {
    switch (format) {
    case kiv::CoverageFormat::Lcov:
    case kiv::CoverageFormat::Drcov: return true;
    }
    return false;
}

// What the trace's binary search and the injector's counts rely on.
bool ascending_known_calls(const std::vector<uint32_t> &numbers) {
    return std::is_sorted(numbers.begin(), numbers.end()) &&
           std::adjacent_find(numbers.begin(), numbers.end()) == numbers.end() &&
           std::all_of(numbers.begin(), numbers.end(),
                       [](uint32_t number) { return kiv::find_syscall(number) != nullptr; });
}

void check(const kiv::RunSettings &settings) {
    require(known(settings.nic.source));
    require(known(settings.trace_settings.format));
    require(ascending_known_calls(settings.trace_settings.selected));
    for (const kiv::Injection &injection : settings.injection.injections) {
        require(known(injection.kind));
        require(ascending_known_calls(injection.calls));
        require(injection.value >= 0 && injection.first >= 1);
    }
    require(known(settings.coverage.format));
    if (settings.timeout_seconds) require(std::isfinite(*settings.timeout_seconds) && *settings.timeout_seconds > 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    auto record = kiv::parse_spawn_record(bytes);
    if (!record) {
        require(kiv::fuzz::one_line(record.error()));
        return 0;
    }
    require(kiv::spawn_record_bytes(*record) == bytes);
    check(record->settings);
    return 0;
}
