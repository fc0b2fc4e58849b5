// Names for the cases of a parameterised suite, taken from the table row:
// its `label()` when it has one (a row whose name alone repeats), else its
// `name` field. GoogleTest takes only letters, digits and '_' in a name, so
// every other character becomes '_'.
#pragma once

#include <string>
#include <string_view>

namespace kiv::test {

inline std::string test_name(std::string_view text) {
    std::string name(text);
    for (char &c : name)
        if (!(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z') && !(c >= '0' && c <= '9')) c = '_';
    return name;
}

template <typename Row> std::string row_label(const Row &row) {
    if constexpr (requires { row.label(); }) return row.label();
    else return std::string(row.name);
}

// The name generator for INSTANTIATE_TEST_SUITE_P.
constexpr auto kCaseName = [](const auto &info) { return test_name(row_label(info.param)); };

}  // namespace kiv::test
