// Hexadecimal digits, both ways: the numbers of command lines, sysfs and
// coverage logs, and the byte strings of gdb's remote protocol.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// The value of one digit, either case; nullopt for any other character.
std::optional<uint8_t> hex_digit_value(char c);

// The lowercase digit of the low four bits of `value`.
char hex_digit(uint64_t value);

// Removes a leading "0x" or "0X" from `text`: whether there was one.
bool remove_hex_prefix(std::string_view &text);

// The number the digits of `text` spell, at most `max`: at least one digit
// and nothing else (no prefix, sign or space); nullopt otherwise.
std::optional<uint64_t> parse_hex(std::string_view text, uint64_t max = UINT64_MAX);
// The same after a "0x" or "0X" that may be left out, as sysfs and drcov
// logs write numbers.
std::optional<uint64_t> parse_hex_optional_prefix(std::string_view text, uint64_t max = UINT64_MAX);

// Two lowercase digits.
std::string hex_byte(uint8_t byte);
// Two lowercase digits per byte, in order.
std::string hex_bytes(std::span<const uint8_t> bytes);
// The bytes of pairs of digits; nullopt for an odd count or a non-digit.
std::optional<std::vector<uint8_t>> decode_hex_bytes(std::string_view text);

}  // namespace kiv
