// Text for people: numbers in hex and bytes quoted the way C writes them;
// texts cut into their fields.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kiv {

// "0x1f": lowercase digits, no padding.
std::string hex(uint64_t value);

// A byte that prints as itself: printable ASCII, space to '~'.
bool printable_ascii(uint8_t byte);

// The bytes as inside a C string literal: \n, \t, \r, \", \\ and \xNN for
// every other byte outside printable ASCII, so hostile bytes never reach a
// terminal. No surrounding quotes.
std::string c_escaped(std::span<const uint8_t> bytes);

// The first `limit` of `length` bytes escaped and quoted; "..." after the
// closing quote when some were left out. `bytes` holds at least
// min(length, limit) bytes.
std::string c_quoted(const uint8_t *bytes, size_t length, size_t limit);

// The text before the first `separator` and the text after it (which may
// hold more of them); nullopt when there is none.
std::optional<std::pair<std::string_view, std::string_view>> split_once(std::string_view text, char separator);

// The fields between the separators, empty ones kept: "a,,b" is "a", "",
// "b", and "" is one empty field.
std::vector<std::string_view> split(std::string_view text, char separator);

}  // namespace kiv
