#include "dispatch/inject.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "support/number.h"
#include "support/text.h"

namespace kiv {

namespace {

// Linux numbers its errors below this.
constexpr int kErrorNumberLimit = 134;

std::optional<int32_t> error_number(std::string_view name) {
    for (int error = 1; error < kErrorNumberLimit; error++) {
        const char *known = strerrorname_np(error);
        if (known != nullptr && name == known) return error;
    }
    return std::nullopt;
}

// A count of calls, at least 1.
std::optional<uint32_t> parse_count(std::string_view text) {
    Result<uint32_t> count = parse_number<uint32_t>(text);
    if (!count || *count == 0) return std::nullopt;
    return *count;
}

// N, N+ or N+S, each N at least 1.
bool parse_when(std::string_view text, Injection &injection) {
    size_t plus = text.find('+');
    std::optional<uint32_t> first = parse_count(text.substr(0, plus));
    if (!first) return false;
    injection.first = *first;
    injection.step = 0;
    if (plus == std::string_view::npos) return true;
    std::string_view step_text = text.substr(plus + 1);
    std::optional<uint32_t> step = step_text.empty() ? std::optional<uint32_t>{1} : parse_count(step_text);
    if (step) injection.step = *step;
    return step.has_value();
}

bool parse_int32(std::string_view text, int32_t &value) {
    Result<uint32_t> parsed = parse_number<uint32_t>(text);
    if (!parsed || *parsed > INT32_MAX) return false;
    value = static_cast<int32_t>(*parsed);
    return true;
}

// Calls that move bytes between a buffer and a descriptor, the count
// third: the only ones a short transfer means something for.
bool moves_bytes(uint32_t number) {
    const SyscallEntry *entry = find_syscall(number);
    return entry->arg_count == 3 && entry->kinds[0] == ArgKind::FD && is_transfer_buffer(entry->kinds[1]);
}

struct Action {
    const char *key;
    Injection::Kind kind;
};
constexpr Action kActions[] = {
    {"error", Injection::Kind::Error}, {"retval", Injection::Kind::Retval}, {"short", Injection::Kind::Short}};

// The value of one action, or the reason it is refused.
std::string parse_action_value(const Action &action, std::string_view value, Injection &injection) {
    injection.kind = action.kind;
    if (action.kind != Injection::Kind::Error)
        return parse_int32(value, injection.value)
                   ? ""
                   : fmt::format("{}={}: not a number from 0 to 2147483647", action.key, value);
    auto error = error_number(value);
    if (!error) return fmt::format("unknown error name '{}'", value);
    injection.value = *error;
    return "";
}

// One KEY=VALUE after the calls; the reason it is refused, or "".
std::string parse_setting(std::string_view setting, Injection &injection, bool &has_action, bool &has_when) {
    auto parts = split_once(setting, '=');
    if (parts && parts->first == "when") {
        if (has_when) return "when= given twice";
        has_when = true;
        return parse_when(parts->second, injection)
                   ? ""
                   : fmt::format("when={}: not N, N+ or N+STEP with each N at least 1", parts->second);
    }
    auto action = std::find_if(std::begin(kActions), std::end(kActions),
                               [&](const Action &a) { return parts && parts->first == a.key; });
    if (action == std::end(kActions)) return fmt::format("'{}' is none of error=, retval=, short=, when=", setting);
    if (has_action) return fmt::format("a second action '{}'", setting);
    has_action = true;
    return parse_action_value(*action, parts->second, injection);
}

std::string known_calls() {
    std::string names;
    for (const SyscallEntry &entry : all_syscalls()) names += (names.empty() ? "" : ", ") + std::string(entry.name);
    return names;
}

std::string known_classes() {
    std::string names;
    for (const char *name : kCallClassNames) names += (names.empty() ? "" : ", ") + std::string(name);
    return names;
}

// The calls whose row names the class `name` (with its '%'); false when
// no class has that name.
bool add_class(std::string_view name, std::vector<uint32_t> &numbers) {
    auto known = std::find(std::begin(kCallClassNames), std::end(kCallClassNames), name);
    if (known == std::end(kCallClassNames)) return false;
    auto call_class = static_cast<CallClass>(known - std::begin(kCallClassNames));
    for (const SyscallEntry &entry : all_syscalls())
        if (entry.in(call_class)) numbers.push_back(entry.number);
    return true;
}

// One item of a selection: a call's name or a class; false when unknown.
bool add_selected(std::string_view item, std::vector<uint32_t> &numbers, std::string &problem) {
    if (item.starts_with('%')) {
        if (add_class(item, numbers)) return true;
        problem = fmt::format("unknown class '{}'; known classes: {}", item, known_classes());
        return false;
    }
    const SyscallEntry *entry = find_syscall_named(item);
    if (entry == nullptr) {
        problem = fmt::format("unknown call '{}'; known calls: {}", item, known_calls());
        return false;
    }
    numbers.push_back(entry->number);
    return true;
}

bool add_selected_list(std::string_view text, std::vector<uint32_t> &numbers, std::string &problem) {
    for (std::string_view item : split(text, ','))
        if (!add_selected(item, numbers, problem)) return false;
    return true;
}

}  // namespace

bool Injection::hits(uint32_t call_count) const {
    if (call_count < first) return false;
    return step == 0 ? call_count == first : (call_count - first) % step == 0;
}

Result<std::vector<uint32_t>> parse_call_selection(std::string_view text) {
    bool negated = text.starts_with('!');
    if (negated) text.remove_prefix(1);
    std::vector<uint32_t> chosen;
    std::string problem;
    if (text == "all") {
        for (const SyscallEntry &entry : all_syscalls()) chosen.push_back(entry.number);
    } else if (!add_selected_list(text, chosen, problem)) {
        return Failure{problem};
    }
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    if (!negated) return chosen;
    std::vector<uint32_t> rest;
    for (const SyscallEntry &entry : all_syscalls())
        if (!std::binary_search(chosen.begin(), chosen.end(), entry.number)) rest.push_back(entry.number);
    std::sort(rest.begin(), rest.end());
    return rest;
}

Result<Injection> parse_injection(std::string_view text) {
    auto parts = split(text, ':');
    Result<std::vector<uint32_t>> calls = parse_call_selection(parts[0]);
    if (!calls) return Failure{calls.error()};
    Injection injection{*calls};
    std::string problem;
    bool has_action = false, has_when = false;
    for (size_t i = 1; i < parts.size() && problem.empty(); i++)
        problem = parse_setting(parts[i], injection, has_action, has_when);
    if (problem.empty() && !has_action) problem = "no action: give error=ENAME, retval=N or short=N";
    if (problem.empty() && injection.kind == Injection::Kind::Short) {
        auto still = std::find_if_not(calls->begin(), calls->end(), moves_bytes);
        if (still != calls->end())
            problem = fmt::format("short= on {}, which moves no bytes through a buffer", find_syscall(*still)->name);
    }
    if (!problem.empty()) return Failure{problem};
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
