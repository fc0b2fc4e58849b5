// Where a call left bytes in guest memory: the records and buffers its
// row's filled arguments name, as long as its result says they are. A
// recording keeps exactly these bytes, and a replay writes them back there.
#pragma once

#include <array>
#include <cstdint>

#include "os/syscalls.h"

namespace kiv {

struct FilledRange {
    uint32_t address;
    uint32_t length;
};

struct FilledRanges {
    std::array<FilledRange, 6> ranges{};
    uint8_t count = 0;
};

// The ranges a call of `row` with these words filled when it answered `value`,
// in the order of its arguments (a zero length where it filled nothing).
FilledRanges filled_ranges(const CallRow &row, const SyscallArgs &words, int32_t value);

}  // namespace kiv
