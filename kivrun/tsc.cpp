#include "tsc.h"

#include <cerrno>
#include <cstdlib>

namespace kiv {

namespace {

bool parse_u64(const std::string &text, uint64_t &value) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    // Base 0 would read a leading zero as octal: only "0x" switches base.
    bool hex = text.size() > 1 && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char *end = nullptr;
    unsigned long long parsed = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0') return false;
    value = parsed;
    return true;
}

}  // namespace

bool parse_tsc_sequence(const std::string &text, TscSequence &sequence) {
    TscSequence parsed;
    size_t colon = text.find(':');
    if (!parse_u64(text.substr(0, colon), parsed.start)) return false;
    if (colon != std::string::npos && !parse_u64(text.substr(colon + 1), parsed.step)) return false;
    sequence = parsed;
    return true;
}

}  // namespace kiv
