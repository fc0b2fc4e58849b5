#include "support/text.h"

#include <algorithm>

#include "support/hex.h"

namespace kiv {

namespace {

struct Escape {
    uint8_t byte;
    const char *text;
};
constexpr Escape kEscapes[] = {{'\n', "\\n"}, {'\t', "\\t"}, {'\r', "\\r"}, {'"', "\\\""}, {'\\', "\\\\"}};

void append_escaped(std::string &text, uint8_t byte) {
    for (const auto &escape : kEscapes) {
        if (escape.byte == byte) {
            text += escape.text;
            return;
        }
    }
    if (printable_ascii(byte)) {
        text += static_cast<char>(byte);
        return;
    }
    text += "\\x" + hex_byte(byte);
}

}  // namespace

bool printable_ascii(uint8_t byte) { return byte >= ' ' && byte <= '~'; }

std::string hex(uint64_t value) {
    std::string digits;
    do {
        digits += hex_digit(value);
        value >>= 4;
    } while (value != 0);
    std::reverse(digits.begin(), digits.end());
    return "0x" + digits;
}

std::string c_escaped(std::span<const uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (uint8_t byte : bytes) append_escaped(text, byte);
    return text;
}

std::string c_quoted(const uint8_t *bytes, size_t length, size_t limit) {
    std::string text = "\"" + c_escaped({bytes, std::min(length, limit)}) + "\"";
    if (length > limit) text += "...";
    return text;
}

std::optional<std::pair<std::string_view, std::string_view>> split_once(std::string_view text, char separator) {
    size_t at = text.find(separator);
    if (at == std::string_view::npos) return std::nullopt;
    return std::pair{text.substr(0, at), text.substr(at + 1)};
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> fields;
    for (auto parts = split_once(text, separator); parts; parts = split_once(text, separator)) {
        fields.push_back(parts->first);
        text = parts->second;
    }
    fields.push_back(text);
    return fields;
}

}  // namespace kiv
