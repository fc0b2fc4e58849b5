// The NIC query's answer: the 28-byte record the kernel's e1000 driver fills,
// and where the stand-in gets it from (a simulated controller by default).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "kiv_nic.h"

namespace kiv {

using NicInfo = ::NicInfo;

enum class NicSource { Simulated, Host, Absent };

struct NicConfig {
    NicSource source = NicSource::Simulated;
    // The simulated controller: PCI 00:03.0, MMIO 0xfebc0000, MAC
    // 52:54:00:12:34:56, link up (what an emulated e1000 usually shows).
    NicInfo simulated{0x00, 0x03, 0x0, 0, 0xfebc0000u, {}, {0x52, 0x54, 0x00, 0x12, 0x34, 0x56}, {}, 1};
    // Where the host's controller is looked up (the sysfs mount).
    std::string sysfs_root = "/sys";
};

// What the driver reports, or nullopt when there is no controller; then
// `problem` says why in one line when the host's answer was asked for.
std::optional<NicInfo> query_nic(const NicConfig &config, std::string &problem);

// The option's source ("sim", "host", "absent"); false on other text.
bool parse_nic_source(const std::string &text, NicSource &source);

}  // namespace kiv
