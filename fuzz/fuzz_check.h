// What every fuzz target asserts about the host code's answers: a broken
// promise stops the fuzzer as a crash, with the input saved.
#pragma once

#include <cstdlib>
#include <string>

namespace kiv::fuzz {

inline void require(bool promise) {
    if (!promise) std::abort();
}

// Errors and trace lines are single lines the user can read.
inline bool one_line(const std::string &text) { return !text.empty() && text.find('\n') == std::string::npos; }

}  // namespace kiv::fuzz
