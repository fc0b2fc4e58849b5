#include "dispatch/filled_ranges.h"

#include <algorithm>

#include "os/nic.h"

namespace kiv {

namespace {

using LengthRule = uint32_t (*)(const SyscallArgs &words, size_t index, int32_t value);

// A buffer whose count is the next argument, filled as far as the result says.
uint32_t counted(const SyscallArgs &words, size_t index, int32_t value) {
    uint32_t count = index + 1 < words.size() ? words[index + 1] : 0;
    return value > 0 ? std::min(static_cast<uint32_t>(value), count) : 0;
}

template <uint32_t Size> uint32_t whole_record(const SyscallArgs &, size_t, int32_t value) {
    return value >= 0 ? Size : 0;
}

// waitpid fills the status word only when it reaped a child, and only when
// it was given one.
uint32_t reaped_status(const SyscallArgs &words, size_t index, int32_t value) {
    return value > 0 && words[index] != 0 ? uint32_t{sizeof(int32_t)} : 0;
}

struct FillRule {
    ArgKind kind;
    LengthRule length;
};

constexpr FillRule kFillRules[] = {
    {ArgKind::BUF_OUT, counted},
    {ArgKind::BUF_OUT_STR, counted},
    {ArgKind::NIC_INFO, whole_record<sizeof(NicInfo)>},
    {ArgKind::FD_PAIR, whole_record<2 * sizeof(int32_t)>},
    {ArgKind::WAIT_STATUS, reaped_status},
};

const FillRule *fill_rule(ArgKind kind) {
    auto rule = std::find_if(std::begin(kFillRules), std::end(kFillRules),
                             [kind](const FillRule &candidate) { return candidate.kind == kind; });
    return rule != std::end(kFillRules) ? rule : nullptr;
}

}  // namespace

FilledRanges filled_ranges(const CallRow &row, const SyscallArgs &words, int32_t value) {
    FilledRanges filled;
    for (size_t i = 0; i < row.arg_count; i++) {
        if (const FillRule *rule = fill_rule(row.kinds[i]))
            filled.ranges[filled.count++] = {words[i], rule->length(words, i, value)};
    }
    return filled;
}

}  // namespace kiv
