#include "os/nic_address.h"

#include <algorithm>

namespace kiv {

namespace {

constexpr unsigned kMaxDevice = 0x1f;
constexpr unsigned kMaxFunction = 7;

bool parse_hex_field(const std::string &text, size_t at, size_t digits, unsigned &value) {
    if (at + digits > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + digits; i++) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return false;
        value = value * 16 + digit;
    }
    return true;
}

}  // namespace

bool parse_pci_address(const std::string &text, NicInfo &info) {
    unsigned bus, device, function;
    if (text.size() != 7 || text[2] != ':' || text[5] != '.') return false;
    if (!parse_hex_field(text, 0, 2, bus) || !parse_hex_field(text, 3, 2, device) ||
        !parse_hex_field(text, 6, 1, function) || device > kMaxDevice || function > kMaxFunction)
        return false;
    info.bus = static_cast<uint8_t>(bus);
    info.device = static_cast<uint8_t>(device);
    info.function = static_cast<uint8_t>(function);
    return true;
}

bool parse_mac_address(const std::string &text, NicInfo &info) {
    constexpr size_t kOctets = 6;
    if (text.size() != kOctets * 3 - 1) return false;
    uint8_t mac[kOctets];
    for (size_t i = 0; i < kOctets; i++) {
        unsigned octet;
        if (!parse_hex_field(text, i * 3, 2, octet)) return false;
        if (i + 1 < kOctets && text[i * 3 + 2] != ':') return false;
        mac[i] = static_cast<uint8_t>(octet);
    }
    std::copy(mac, mac + kOctets, info.mac);
    return true;
}

}  // namespace kiv
