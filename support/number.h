// Whole-text decimal numbers, and the one grammar for numeric values given
// by a user (options, injections, counters): decimal, or hexadecimal after
// "0x"; no sign, no spaces, nothing after the digits, and the value must fit
// the width asked for. A leading zero before more digits is refused rather
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
#include "support/result.h"

namespace kiv {

// The number the decimal digits of the whole of `text` spell, if it fits T:
// at least one digit and nothing else (no sign, space or prefix).
template <std::unsigned_integral T> std::optional<T> decimal_number(std::string_view text) {
    // from_chars takes no sign for unsigned types and reports overflow.
    T value;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The grammar in words, for error messages: "a 32-bit number: decimal or
// 0x-hex", with `limit` ("above 0") after "number" when given.
template <std::unsigned_integral T> std::string number_hint(std::string_view limit = {}) {
    std::string hint = "a " + std::to_string(sizeof(T) * 8) + "-bit number";
    if (!limit.empty()) hint += " " + std::string(limit);
    return hint + ": decimal or 0x-hex";
}

// The number `text` spells in the one grammar, if it fits T; the refusal
// is the grammar in words.
template <std::unsigned_integral T> Result<T> parse_number(std::string_view text) {
    std::optional<uint64_t> parsed;
    if (remove_hex_prefix(text)) parsed = parse_hex(text, std::numeric_limits<T>::max());
    else if (text.size() == 1 || !text.starts_with('0')) parsed = decimal_number<T>(text);
    if (!parsed) return Failure{number_hint<T>()};
    return static_cast<T>(*parsed);
}

}  // namespace kiv
