#include "dispatch/inject.h"

#include <algorithm>
#include <cstring>

#include "support/number.h"

namespace kiv {

namespace {

// Linux numbers its errors below this.
constexpr int kErrorNumberLimit = 134;

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

std::optional<int32_t> error_number(std::string_view name) {
    for (int error = 1; error < kErrorNumberLimit; error++) {
        const char *known = strerrorname_np(error);
        if (known != nullptr && name == known) return error;
    }
    return std::nullopt;
}

// N, N+ or N+S, each N at least 1.
bool parse_when(std::string_view text, Injection &injection) {
    size_t plus = text.find('+');
    if (!cli::parse_number(text.substr(0, plus), injection.first) || injection.first == 0) return false;
    injection.step = 0;
    if (plus == std::string_view::npos) return true;
    std::string_view step = text.substr(plus + 1);
    if (step.empty()) {
        injection.step = 1;
        return true;
    }
    return cli::parse_number(step, injection.step) && injection.step != 0;
}

bool parse_int32(std::string_view text, int32_t &value) {
    uint32_t parsed = 0;
    if (!cli::parse_number(text, parsed) || parsed > INT32_MAX) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

// Calls that move bytes between a buffer and a descriptor, the count
// third: the only ones a short transfer means something for.
bool moves_bytes(uint32_t number) {
    const SyscallEntry *entry = find_syscall(number);
    return entry->arg_count == 3 && entry->kinds[0] == ArgKind::FD &&
           (entry->kinds[1] == ArgKind::BUF_IN || entry->kinds[1] == ArgKind::BUF_OUT) &&
           entry->kinds[2] == ArgKind::COUNT;
}

struct Action {
    const char *key;
    Injection::Kind kind;
};
constexpr Action kActions[] = {
    {"error", Injection::Kind::Error}, {"retval", Injection::Kind::Retval}, {"short", Injection::Kind::Short}};

bool parse_setting(std::string_view setting, Injection &injection, bool &has_action, bool &has_when) {
    size_t equals = setting.find('=');
    if (equals == std::string_view::npos) return false;
    std::string_view key = setting.substr(0, equals), value = setting.substr(equals + 1);
    if (key == "when") {
        if (has_when) return false;
        has_when = true;
        return parse_when(value, injection);
    }
    auto action = std::find_if(std::begin(kActions), std::end(kActions), [&](const Action &a) { return key == a.key; });
    if (action == std::end(kActions) || has_action) return false;
    has_action = true;
    injection.kind = action->kind;
    if (action->kind != Injection::Kind::Error) return parse_int32(value, injection.value);
    auto error = error_number(value);
    if (error) injection.value = *error;
    return error.has_value();
}

}  // namespace

bool Injection::hits(uint32_t call_count) const {
    if (call_count < first) return false;
    return step == 0 ? call_count == first : (call_count - first) % step == 0;
}

std::optional<std::vector<uint32_t>> parse_call_names(std::string_view text) {
    std::vector<uint32_t> numbers;
    for (std::string_view name : split(text, ',')) {
        const SyscallEntry *entry = find_syscall_named(name);
        if (entry == nullptr) return std::nullopt;
        numbers.push_back(entry->number);
    }
    return numbers;
}

std::optional<Injection> parse_injection(std::string_view text) {
    auto parts = split(text, ':');
    auto calls = parse_call_names(parts[0]);
    if (!calls) return std::nullopt;
    Injection injection{*calls};
    bool has_action = false, has_when = false;
    for (size_t i = 1; i < parts.size(); i++)
        if (!parse_setting(parts[i], injection, has_action, has_when)) return std::nullopt;
    if (!has_action) return std::nullopt;
    if (injection.kind == Injection::Kind::Short && !std::all_of(calls->begin(), calls->end(), moves_bytes))
        return std::nullopt;
    return injection;
}

const Injection *Injector::next(uint32_t number) {
    auto names_it = [number](const Injection &injection) {
        return std::find(injection.calls.begin(), injection.calls.end(), number) != injection.calls.end();
    };
    if (std::none_of(injections_.begin(), injections_.end(), names_it)) return nullptr;
    uint32_t count = ++counts_[number];
    for (const auto &injection : injections_)
        if (names_it(injection) && injection.hits(count)) return &injection;
    return nullptr;
}

SyscallResult Injector::perform(const Injection &injection, const SyscallEntry &entry, Process &process,
                                const SyscallArgs &args) {
    switch (injection.kind) {
    case Injection::Kind::Error: return failure(injection.value);
    case Injection::Kind::Retval: return success(injection.value);
    case Injection::Kind::Short: break;
    }
    SyscallArgs limited = args;
    limited[2] = std::min(args[2], static_cast<uint32_t>(injection.value));
    return entry.handler(process, limited);
}

}  // namespace kiv
