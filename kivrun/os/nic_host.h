// The NIC query answered from the host: the first e1000 controller Linux
// knows, read from sysfs. Read afresh at every query, so the link state is
// the one of that moment, as the kernel's driver would report it.
#pragma once

#include <optional>
#include <string>

#include "kiv_nic.h"

namespace kiv {

// The first PCI device (in address order) under `sysfs_root`/bus/pci/devices
// that is bound to Linux's e1000 driver or is an Intel Ethernet controller
// with an e1000-family device ID. nullopt when there is none, or when its
// BAR0 does not fit in 32 bits or its MAC address cannot be read. A missing
// or unreadable carrier means the link is down. On failure `problem` says
// why in one line, for the user ("--nic host: no e1000 controller in ...").
std::optional<NicInfo> query_host_nic(const std::string &sysfs_root, std::string &problem);

}  // namespace kiv
