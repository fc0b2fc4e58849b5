#include "dispatch/expression.h"

#include <algorithm>

namespace kiv {

namespace {

constexpr std::string_view kTrace = "trace=", kInject = "inject=";

void add_selected(const std::vector<uint32_t> &numbers, TraceSettings &trace) {
    // As in strace, choosing calls to trace turns the trace on.
    trace.enabled = true;
    std::vector<uint32_t> &selected = trace.selected;
    selected.insert(selected.end(), numbers.begin(), numbers.end());
    std::sort(selected.begin(), selected.end());
    selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
}

}  // namespace

Result<void> apply_expression(std::string_view expression, TraceSettings &trace, InjectionSettings &injection) {
    if (expression.starts_with(kTrace)) {
        Result<std::vector<uint32_t>> numbers = parse_call_selection(expression.substr(kTrace.size()));
        if (!numbers) return Failure{numbers.error()};
        add_selected(*numbers, trace);
        return {};
    }
    if (!expression.starts_with(kInject)) return Failure{"neither trace=CALLS nor inject=CALLS:ACTION"};
    Result<Injection> parsed = parse_injection(expression.substr(kInject.size()));
    if (!parsed) return Failure{parsed.error()};
    injection.injections.push_back(std::move(*parsed));
    return {};
}

}  // namespace kiv
