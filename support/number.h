// Whole-text decimal numbers, and the one grammar for numeric option values: decimal, or hexadecimal after
// "0x"; no sign, no spaces, nothing after the digits, and the value must fit
// the option's width. A leading zero before more digits is refused rather
// than read as octal or as decimal: "010" means different things to
// different tools, so it means nothing here.
#pragma once

#include <charconv>
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "support/hex.h"

namespace kiv {

// The number the decimal digits of the whole of `text` spell, if it fits T:
// at least one digit and nothing else (no sign, space or prefix).
template <std::unsigned_integral T>
std::optional<T> decimal_number(std::string_view text) {
    // from_chars takes no sign for unsigned types and reports overflow.
    T value;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace kiv

namespace kiv::cli {

// Decimal digits that fit T, without a leading zero before more of them.
template <std::unsigned_integral T>
std::optional<uint64_t> parse_decimal(std::string_view text) {
    if (text.size() > 1 && text[0] == '0') return std::nullopt;
    return decimal_number<T>(text);
}

template <std::unsigned_integral T>
bool parse_number(std::string_view text, T &value) {
    std::optional<uint64_t> parsed =
        remove_hex_prefix(text) ? parse_hex(text, std::numeric_limits<T>::max()) : parse_decimal<T>(text);
    if (!parsed) return false;
    value = static_cast<T>(*parsed);
    return true;
}

// An apply function for an option row that stores one number.
template <std::unsigned_integral T>
auto store_number(T &target) {
    return [&target](const char *value) { return parse_number(value, target); };
}

// The grammar in words, for error messages: "a 32-bit number: decimal or
// 0x-hex", with `limit` ("above 0") after "number" when given.
template <std::unsigned_integral T>
std::string number_hint(std::string_view limit = {}) {
    std::string hint = "a " + std::to_string(sizeof(T) * 8) + "-bit number";
    if (!limit.empty()) hint += " " + std::string(limit);
    return hint + ": decimal or 0x-hex";
}

}  // namespace kiv::cli
