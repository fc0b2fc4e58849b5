#include "machine/tsc.h"

#include "support/number.h"

namespace kiv {

Result<TscSequence> parse_tsc_sequence(std::string_view text) {
    size_t colon = text.find(':');
    Result<uint64_t> start = parse_number<uint64_t>(text.substr(0, colon));
    if (!start) return Failure{start.error()};
    if (colon == std::string_view::npos) return TscSequence{*start};
    Result<uint64_t> step = parse_number<uint64_t>(text.substr(colon + 1));
    if (!step) return Failure{step.error()};
    return TscSequence{*start, *step};
}

}  // namespace kiv
