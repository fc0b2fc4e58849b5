#include "run/spawn_record.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <concepts>
#include <cstring>
#include <type_traits>

#include "support/file.h"
#include "support/io.h"

namespace kiv {

namespace {

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};

// The fields of each composite value, in one order for writing and reading
// alike.
template <class Archive, class Record>
void fields(Archive &archive, Record &record)
    requires std::same_as<std::remove_const_t<Record>, Injection>
{
    archive(record.calls);
    archive(record.kind);
    archive(record.value);
    archive(record.first);
    archive(record.step);
}

template <class Archive, class Record>
void fields(Archive &archive, Record &record)
    requires std::same_as<std::remove_const_t<Record>, TraceSettings>
{
    archive(record.enabled);
    archive(record.times);
    archive(record.epoch_times);
    archive(record.summary_only);
    archive(record.format);
    archive(record.string_limit);
    archive(record.selected);
    archive(record.injections);
}

template <class Archive, class Record>
void fields(Archive &archive, Record &record)
    requires std::same_as<std::remove_const_t<Record>, RunSettings>
{
    archive(record.nic.source);
    archive(record.nic.simulated);
    archive(record.nic.sysfs_root);
    archive(record.trace_settings);
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
void fields(Archive &archive, Record &record)
    requires std::same_as<std::remove_const_t<Record>, RecordingSettings>
{
    archive(record.mode);
    archive(record.directory);
    archive(record.name);
}

template <class Archive, class Record>
void fields(Archive &archive, Record &record)
    requires std::same_as<std::remove_const_t<Record>, InheritedFd>
{
    archive(record.guest);
    archive(record.host);
    archive(record.console);
}

template <class Archive, class Record>
void fields(Archive &archive, Record &record)
    requires std::same_as<std::remove_const_t<Record>, SpawnRecord>
{
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
    template <class T>
    operator T() const {
        return T{};
    }
};

template <class T, class... Fields>
constexpr size_t field_count() {
    if constexpr (requires { T{Fields{}..., AnyField{}}; })
        return field_count<T, Fields..., AnyField>();
    else
        return sizeof...(Fields);
}

// A field added to one of these types needs its line in the lists above.
static_assert(field_count<Injection>() == 5);
static_assert(field_count<TraceSettings>() == 8);
static_assert(field_count<NicConfig>() == 3);
static_assert(field_count<RunSettings>() == 9);
static_assert(field_count<RecordingSettings>() == 3);
static_assert(field_count<CoverageSettings>() == 2);
static_assert(field_count<Inheritance>() == 5);
static_assert(field_count<InheritedFd>() == 3);
static_assert(field_count<SpawnRecord>() == 8);

template <class T>
concept Composite = requires(T &value, std::string &bytes) { fields(bytes, value); };

class Writer {
public:
    template <class T>
    void operator()(const T &value) {
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

    template <class T>
    void operator()(T &value) {
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

bool known(NicSource source) {
    return source == NicSource::Simulated || source == NicSource::Host || source == NicSource::Absent;
}

bool known(RecordingSettings::Mode mode) { return mode <= RecordingSettings::Mode::Replay; }

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

std::optional<SpawnRecord> read_spawn_record(int fd) {
    std::string ignored;
    auto bytes = read_file(fd, UINT64_MAX, ignored);
    if (!bytes) return std::nullopt;
    return parse_spawn_record(std::string_view(reinterpret_cast<const char *>(bytes->data()), bytes->size()));
}

std::optional<SpawnRecord> parse_spawn_record(std::string_view bytes) {
    SpawnRecord record;
    Reader reader(bytes);
    reader(record);
    if (!reader.complete() || !known(record.settings.nic.source) || !known(record.settings.recording.mode))
        return std::nullopt;
    return record;
}

std::string spawn_record_bytes(const SpawnRecord &record) {
    Writer writer;
    writer(record);
    return writer.bytes();
}

}  // namespace kiv
