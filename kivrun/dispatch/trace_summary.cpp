#include "dispatch/trace_summary.h"

#include <fmt/format.h>

#include <algorithm>
#include <vector>

namespace kiv {

namespace {

constexpr const char *kHeader = "% time     seconds  usecs/call     calls    errors syscall\n";
constexpr const char *kRule = "------ ----------- ----------- --------- --------- ----------------\n";
constexpr double kMicroseconds = 1e6;

std::string row_line(double percent, double seconds, uint64_t calls, uint64_t errors, const std::string &name) {
    uint64_t per_call = calls == 0 ? 0 : static_cast<uint64_t>(seconds * kMicroseconds / static_cast<double>(calls));
    std::string error_column = errors == 0 ? "" : std::to_string(errors);
    return fmt::format("{:6.2f} {:11.6f} {:11} {:9} {:>9} {}\n", percent, seconds, per_call, calls, error_column, name);
}

}  // namespace

void TraceSummary::add(const std::string &call, bool failed, double seconds) {
    Row &row = rows_[call];
    row.seconds += seconds;
    row.calls++;
    row.errors += failed ? 1 : 0;
}

std::string TraceSummary::table() const {
    std::vector<std::pair<std::string, Row>> sorted(rows_.begin(), rows_.end());
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto &a, const auto &b) { return a.second.seconds > b.second.seconds; });
    Row total;
    for (const auto &[name, row] : sorted) {
        total.seconds += row.seconds;
        total.calls += row.calls;
        total.errors += row.errors;
    }
    std::string text = std::string(kHeader) + kRule;
    for (const auto &[name, row] : sorted) {
        double percent = total.seconds > 0 ? 100 * row.seconds / total.seconds : 0;
        text += row_line(percent, row.seconds, row.calls, row.errors, name);
    }
    return text + kRule + row_line(100, total.seconds, total.calls, total.errors, "total");
}

std::string TraceSummary::json() const {
    std::string text = "[";
    for (const auto &[name, row] : rows_) {
        if (text.back() != '[') text += ",";
        text += fmt::format("{{\"syscall\":\"{}\",\"calls\":{},\"errors\":{},\"seconds\":{:.6f}}}", name, row.calls,
                            row.errors, row.seconds);
    }
    return text + "]";
}

}  // namespace kiv
