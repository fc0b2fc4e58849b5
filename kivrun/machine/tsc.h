// A made-up time-stamp counter for repeatable runs: the guest's first rdtsc
// reads `start`, every later one `step` more (modulo 2^64), so anything the
// guest derives from the counter (the random generator's automatic seed) is
// known in advance.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "support/result.h"

namespace kiv {

struct TscSequence {
    uint64_t start = 0;
    uint64_t step = 1;

    // The value of the read numbered `index` (0 for the first).
    uint64_t at(uint64_t index) const { return start + index * step; }
};

// Where the guest's rdtsc reads come from when they are neither the host's
// counter nor a sequence: a recording's values, or the host's noted down.
class TimeStamps {
public:
    virtual ~TimeStamps() = default;
    // The next read's value; nullopt ends the run (the source says why).
    virtual std::optional<uint64_t> read() = 0;
};

// "START" or "START:STEP", each a 64-bit number in the options' one number
// grammar; the step defaults to 1.
Result<TscSequence> parse_tsc_sequence(std::string_view text);

}  // namespace kiv
