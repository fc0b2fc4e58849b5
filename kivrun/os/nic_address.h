// The text forms of a controller's addresses, as the options and sysfs
// write them. The MMIO base and link word are plain numbers, read by the
// options' one number grammar.
#pragma once

#include <string>

#include "kiv_nic.h"

namespace kiv {

// False on bad text, leaving `info` as it was.
bool parse_pci_address(const std::string &text, NicInfo &info);   // "BB:DD.F", hex bus/device
bool parse_mac_address(const std::string &text, NicInfo &info);   // six hex octets joined by ':'

}  // namespace kiv
