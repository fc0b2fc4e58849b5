#include "run/spawn_record.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <concepts>
#include <cstring>
#include <functional>
#include <span>
#include <type_traits>

#include "support/file.h"
#include "support/io.h"

namespace kiv {

namespace {

template <class T> struct IsOptional : std::false_type {};
template <class T> struct IsOptional<std::optional<T>> : std::true_type {};

template <class T> struct IsVector : std::false_type {};
template <class T> struct IsVector<std::vector<T>> : std::true_type {};

// The fields of each composite value, in one order for writing and reading
// alike.
template <class Archive, class Record>
void fields(Archive &archive, Record &record) requires std::same_as<std::remove_const_t<Record>, Injection> {
    archive(record.calls);
    archive(record.kind);
    archive(record.value);
    archive(record.first);
    archive(record.step);
}

template <class Archive, class Record>
void fields(Archive &archive, Record &record) requires std::same_as<std::remove_const_t<Record>, TraceSettings> {
    archive(record.enabled);
    archive(record.times);
    archive(record.epoch_times);
    archive(record.summary_only);
    archive(record.format);
    archive(record.string_limit);
    archive(record.selected);
}

template <class Archive, class Record>
void fields(Archive &archive, Record &record) requires std::same_as<std::remove_const_t<Record>, InjectionSettings> {
    archive(record.injections);
}

template <class Archive, class Record>
void fields(Archive &archive, Record &record) requires std::same_as<std::remove_const_t<Record>, RunSettings> {
    archive(record.nic.source);
    archive(record.nic.simulated);
    archive(record.nic.sysfs_root);
    archive(record.trace_settings);
    archive(record.injection);
    archive(record.timeout_seconds);
    archive(record.block_limit);
    archive(record.skip_sleeps);
    archive(record.tsc);
    archive(record.coverage.path);
    archive(record.coverage.format);
    archive(record.runner);
    archive(record.recording);
}

template <class Archive, class Record>
void fields(Archive &archive, Record &record) requires std::same_as<std::remove_const_t<Record>, RecordingSettings> {
    archive(record.mode);
    archive(record.directory);
    archive(record.name);
}

template <class Archive, class Record>
void fields(Archive &archive, Record &record) requires std::same_as<std::remove_const_t<Record>, InheritedFd> {
    archive(record.guest);
    archive(record.host);
    archive(record.console);
}

template <class Archive, class Record>
void fields(Archive &archive, Record &record) requires std::same_as<std::remove_const_t<Record>, SpawnRecord> {
    archive(record.parent);
    archive(record.program);
    archive(record.image);
    archive(record.argv);
    archive(record.inherited.root_fd);
    archive(record.inherited.cwd);
    archive(record.inherited.fds);
    archive(record.inherited.shared_run_fd);
    archive(record.inherited.deadline);
    archive(record.trace_fd);
    archive(record.diagnostics);
    archive(record.settings);
}

// How many fields an aggregate has: the most initialisers it takes.
struct AnyField {
    // Only asked about at compile time; defined so that no compiler takes
    // it for a function missing from this unit.
    template <class T> operator T() const { return T{}; }
};

template <class T, class... Fields> constexpr size_t field_count() {
    if constexpr (requires { T{Fields{}..., AnyField{}}; }) return field_count<T, Fields..., AnyField>();
    else return sizeof...(Fields);
}

// A field added to one of these types needs its line in the lists above.
static_assert(field_count<Injection>() == 5);
static_assert(field_count<TraceSettings>() == 7);
static_assert(field_count<InjectionSettings>() == 1);
static_assert(field_count<NicConfig>() == 3);
static_assert(field_count<RunSettings>() == 10);
static_assert(field_count<RecordingSettings>() == 3);
static_assert(field_count<CoverageSettings>() == 2);
static_assert(field_count<Inheritance>() == 5);
static_assert(field_count<InheritedFd>() == 3);
static_assert(field_count<SpawnRecord>() == 8);

// Every value of each enumeration a record holds; any other byte pattern is
// a broken record. An enumeration without its list here does not compile.
constexpr NicSource kNicSources[] = {NicSource::Simulated, NicSource::Host, NicSource::Absent};
constexpr TraceFormat kTraceFormats[] = {TraceFormat::Text, TraceFormat::Json};
constexpr Injection::Kind kInjectionKinds[] = {Injection::Kind::Error, Injection::Kind::Retval, Injection::Kind::Short};
constexpr CoverageFormat kCoverageFormats[] = {CoverageFormat::Lcov, CoverageFormat::Drcov};
constexpr RecordingSettings::Mode kRecordingModes[] = {RecordingSettings::Mode::Off, RecordingSettings::Mode::Record,
                                                       RecordingSettings::Mode::Replay};

std::span<const NicSource> values_of(NicSource) { return kNicSources; }
std::span<const TraceFormat> values_of(TraceFormat) { return kTraceFormats; }
std::span<const Injection::Kind> values_of(Injection::Kind) { return kInjectionKinds; }
std::span<const CoverageFormat> values_of(CoverageFormat) { return kCoverageFormats; }
std::span<const RecordingSettings::Mode> values_of(RecordingSettings::Mode) { return kRecordingModes; }

template <class T>
concept Composite = requires(T &value, std::string &bytes) {
    fields(bytes, value);
};

class Writer {
public:
    template <class T> void operator()(const T &value) {
        if constexpr (Composite<T>) {
            fields(*this, value);
        } else if constexpr (IsOptional<T>::value) {
            (*this)(value.has_value());
            if (value) (*this)(*value);
        } else if constexpr (IsVector<T>::value || std::is_same_v<T, std::string>) {
            (*this)(uint64_t{value.size()});
            for (const auto &element : value) (*this)(element);
        } else {
            static_assert(std::is_trivially_copyable_v<T>);
            bytes_.append(reinterpret_cast<const char *>(&value), sizeof value);
        }
    }
    const std::string &bytes() const { return bytes_; }

private:
    std::string bytes_;
};

class Reader {
public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}

    template <class T> void operator()(T &value) {
        if constexpr (Composite<T>) {
            fields(*this, value);
        } else if constexpr (IsOptional<T>::value) {
            bool present = false;
            (*this)(present);
            value.reset();
            if (present) (*this)(value.emplace());
        } else if constexpr (IsVector<T>::value || std::is_same_v<T, std::string>) {
            uint64_t size = 0;
            (*this)(size);
            // Every element takes at least one byte: a size beyond what is
            // left is a broken record, not an allocation to attempt.
            if (size > rest_.size()) {
                ok_ = false;
                return;
            }
            value.resize(static_cast<size_t>(size));
            for (auto &element : value) (*this)(element);
        } else if constexpr (std::is_enum_v<T>) {
            std::underlying_type_t<T> raw{};
            (*this)(raw);
            value = static_cast<T>(raw);
            auto known = values_of(value);
            ok_ = ok_ && std::find(known.begin(), known.end(), value) != known.end();
        } else if constexpr (std::is_same_v<T, bool>) {
            // Any byte but 0 and 1 is no bool: a broken record.
            uint8_t byte = 0;
            (*this)(byte);
            ok_ = ok_ && byte <= 1;
            value = byte == 1;
        } else {
            static_assert(std::is_trivially_copyable_v<T>);
            if (rest_.size() < sizeof value) {
                ok_ = false;
                return;
            }
            std::memcpy(&value, rest_.data(), sizeof value);
            rest_.remove_prefix(sizeof value);
        }
    }
    bool complete() const { return ok_ && rest_.empty(); }

private:
    std::string_view rest_;
    bool ok_ = true;
};

// Call numbers as a selection holds them: known calls, ascending, each once
// (the trace looks them up by binary search).
bool valid_selection(const std::vector<uint32_t> &numbers) {
    auto unknown = [](uint32_t number) { return find_syscall(number) == nullptr; };
    return std::none_of(numbers.begin(), numbers.end(), unknown) &&
           std::adjacent_find(numbers.begin(), numbers.end(), std::greater_equal<>()) == numbers.end();
}

bool valid(const Injection &injection) {
    return valid_selection(injection.calls) && injection.value >= 0 && injection.first >= 1;
}

// What the readers of the settings rely on beyond each field's own type.
bool valid(const RunSettings &settings) {
    const std::vector<Injection> &injections = settings.injection.injections;
    const std::optional<double> &timeout = settings.timeout_seconds;
    return valid_selection(settings.trace_settings.selected) &&
           std::all_of(injections.begin(), injections.end(), [](const Injection &one) { return valid(one); }) &&
           (!timeout || (std::isfinite(*timeout) && *timeout > 0));
}

}  // namespace

int write_spawn_record(const SpawnRecord &record) {
    std::string bytes = spawn_record_bytes(record);
    int fd = memfd_create("kivrun-spawn", MFD_CLOEXEC);
    if (fd < 0) return -1;
    if (!write_all(fd, bytes)) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

Result<SpawnRecord> read_spawn_record(int fd) {
    Result<std::vector<uint8_t>> bytes = read_file(fd, UINT64_MAX);
    if (!bytes) return Failure{bytes.error()};
    return parse_spawn_record(std::string_view(reinterpret_cast<const char *>(bytes->data()), bytes->size()));
}

Result<SpawnRecord> parse_spawn_record(std::string_view bytes) {
    SpawnRecord record;
    Reader reader(bytes);
    reader(record);
    if (!reader.complete()) return Failure{"a cut or broken record"};
    if (!valid(record.settings)) return Failure{"settings no command line gives"};
    return record;
}

std::string spawn_record_bytes(const SpawnRecord &record) {
    Writer writer;
    writer(record);
    return writer.bytes();
}

}  // namespace kiv
