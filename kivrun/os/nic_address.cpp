#include "os/nic_address.h"

#include <algorithm>
#include <optional>

#include "support/hex.h"

namespace kiv {

namespace {

constexpr uint8_t kMaxDevice = 0x1f;
constexpr uint8_t kMaxFunction = 7;
constexpr size_t kPciTextSize = 7;
constexpr size_t kOctetStride = 3;  // two digits and a ':'

// Exactly `digits` hex digits at `at`, read as a number up to `max`.
std::optional<uint8_t> hex_field(std::string_view text, size_t at, size_t digits, uint8_t max) {
    if (at + digits > text.size()) return std::nullopt;
    auto parsed = parse_hex(text.substr(at, digits), max);
    if (!parsed) return std::nullopt;
    return static_cast<uint8_t>(*parsed);
}

}  // namespace

Result<PciAddress> parse_pci_address(std::string_view text) {
    const Failure<std::string> refused{"BB:DD.F in hex, device up to 1f, function up to 7"};
    if (text.size() != kPciTextSize || text[2] != ':' || text[5] != '.') return refused;
    auto bus = hex_field(text, 0, 2, UINT8_MAX), device = hex_field(text, 3, 2, kMaxDevice),
         function = hex_field(text, 6, 1, kMaxFunction);
    if (!bus || !device || !function) return refused;
    return PciAddress{*bus, *device, *function};
}

Result<MacAddress> parse_mac_address(std::string_view text) {
    const Failure<std::string> refused{"six hex octets joined by ':'"};
    MacAddress mac;
    if (text.size() != mac.size() * kOctetStride - 1) return refused;
    for (size_t i = 0; i < mac.size(); i++) {
        auto octet = hex_field(text, i * kOctetStride, 2, UINT8_MAX);
        if (!octet || (i + 1 < mac.size() && text[i * kOctetStride + 2] != ':')) return refused;
        mac[i] = *octet;
    }
    return mac;
}

void set_pci_address(NicInfo &info, const PciAddress &address) {
    info.bus = address.bus;
    info.device = address.device;
    info.function = address.function;
}

void set_mac_address(NicInfo &info, const MacAddress &mac) { std::copy(mac.begin(), mac.end(), info.mac); }

}  // namespace kiv
