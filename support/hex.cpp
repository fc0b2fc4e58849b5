#include "support/hex.h"

namespace kiv {

namespace {

constexpr char kDigits[] = "0123456789abcdef";
constexpr uint32_t kDigitBits = 4;
constexpr uint32_t kDigitMask = 0xf;
constexpr uint8_t kLetterBase = 10;

}  // namespace

std::optional<uint8_t> hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + kLetterBase);
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + kLetterBase);
    return std::nullopt;
}

char hex_digit(uint64_t value) { return kDigits[value & kDigitMask]; }

bool remove_hex_prefix(std::string_view &text) {
    if (!text.starts_with("0x") && !text.starts_with("0X")) return false;
    text.remove_prefix(2);
    return true;
}

std::optional<uint64_t> parse_hex(std::string_view text, uint64_t max) {
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        auto digit = hex_digit_value(c);
        // Checked before shifting, so that no digit pushes bits out the top.
        if (!digit || *digit > max || value > (max - *digit) >> kDigitBits) return std::nullopt;
        value = value << kDigitBits | *digit;
    }
    return value;
}

std::optional<uint64_t> parse_hex_optional_prefix(std::string_view text, uint64_t max) {
    remove_hex_prefix(text);
    return parse_hex(text, max);
}

std::string hex_byte(uint8_t byte) { return {hex_digit(byte >> kDigitBits), hex_digit(byte)}; }

std::string hex_bytes(std::span<const uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t byte : bytes) text += hex_byte(byte);
    return text;
}

std::optional<std::vector<uint8_t>> decode_hex_bytes(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        auto byte = parse_hex(text.substr(i, 2));
        if (!byte) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(*byte));
    }
    return bytes;
}

}  // namespace kiv
