#include "os/nic_address.h"

#include <algorithm>

#include "support/hex.h"

namespace kiv {

namespace {

constexpr unsigned kMaxDevice = 0x1f;
constexpr unsigned kMaxFunction = 7;

// Exactly `digits` hex digits at `at`, read as a number up to `max`.
bool parse_hex_field(const std::string &text, size_t at, size_t digits, unsigned max, unsigned &value) {
    if (at + digits > text.size()) return false;
    auto parsed = parse_hex(std::string_view(text).substr(at, digits), max);
    if (!parsed) return false;
    value = static_cast<unsigned>(*parsed);
    return true;
}

}  // namespace

bool parse_pci_address(const std::string &text, NicInfo &info) {
    unsigned bus, device, function;
    if (text.size() != 7 || text[2] != ':' || text[5] != '.') return false;
    if (!parse_hex_field(text, 0, 2, UINT8_MAX, bus) || !parse_hex_field(text, 3, 2, kMaxDevice, device) ||
        !parse_hex_field(text, 6, 1, kMaxFunction, function))
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
        if (!parse_hex_field(text, i * 3, 2, UINT8_MAX, octet)) return false;
        if (i + 1 < kOctets && text[i * 3 + 2] != ':') return false;
        mac[i] = static_cast<uint8_t>(octet);
    }
    std::copy(mac, mac + kOctets, info.mac);
    return true;
}

}  // namespace kiv
