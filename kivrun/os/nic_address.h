// The text forms of a controller's addresses, as the options and sysfs
// write them. The MMIO base and link word are plain numbers, read by the
// one number grammar.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "kiv_nic.h"
#include "support/result.h"

namespace kiv {

struct PciAddress {
    uint8_t bus;
    uint8_t device;
    uint8_t function;
};

using MacAddress = std::array<uint8_t, sizeof NicInfo{}.mac>;

// "BB:DD.F", hex bus and device; the refusal says what the form is.
Result<PciAddress> parse_pci_address(std::string_view text);
// Six hex octets joined by ':'.
Result<MacAddress> parse_mac_address(std::string_view text);

void set_pci_address(NicInfo &info, const PciAddress &address);
void set_mac_address(NicInfo &info, const MacAddress &mac);

}  // namespace kiv
