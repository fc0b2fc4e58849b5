#include "machine/tsc.h"

#include "support/number.h"

namespace kiv {

bool parse_tsc_sequence(const std::string &text, TscSequence &sequence) {
    TscSequence parsed;
    size_t colon = text.find(':');
    if (!cli::parse_number(text.substr(0, colon), parsed.start)) return false;
    if (colon != std::string::npos && !cli::parse_number(text.substr(colon + 1), parsed.step)) return false;
    sequence = parsed;
    return true;
}

}  // namespace kiv
