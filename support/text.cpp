#include "support/text.h"

#include <algorithm>

namespace kiv {

namespace {

constexpr char kDigits[] = "0123456789abcdef";

struct Escape {
    uint8_t byte;
    const char *text;
};
constexpr Escape kEscapes[] = {{'\n', "\\n"}, {'\t', "\\t"}, {'\r', "\\r"}, {'"', "\\\""}, {'\\', "\\\\"}};

bool printable(uint8_t byte) { return byte >= 0x20 && byte < 0x7f; }

void append_escaped(std::string &text, uint8_t byte) {
    for (const auto &escape : kEscapes) {
        if (escape.byte == byte) {
            text += escape.text;
            return;
        }
    }
    if (printable(byte)) {
        text += static_cast<char>(byte);
        return;
    }
    text += "\\x";
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xf];
}

}  // namespace

std::string hex(uint64_t value) {
    std::string digits;
    do {
        digits += kDigits[value & 0xf];
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

}  // namespace kiv
