// The NIC query answered from the host's sysfs: which PCI device counts as
// the e1000, what is read from it, when the query fails.
#include "os/nic_host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fake_sysfs.h"

namespace kiv::test {
namespace {

// What the record should say, written as the report prints it.
struct Expected {
    std::string pci;  // "BB:DD.F"
    uint32_t mmio;
    std::string mac;
    uint32_t link;
};

std::string describe(const NicInfo &info) {
    char text[64];
    snprintf(text, sizeof text, "%02x:%02x.%d %08x %02x:%02x:%02x:%02x:%02x:%02x %u", info.bus, info.device,
             info.function, info.mmio_base, info.mac[0], info.mac[1], info.mac[2], info.mac[3], info.mac[4],
             info.mac[5], info.link);
    return text;
}

std::string describe(const Expected &expected) {
    char mmio[9];
    snprintf(mmio, sizeof mmio, "%08x", expected.mmio);
    return expected.pci + " " + mmio + " " + expected.mac + " " + std::to_string(expected.link);
}

struct HostCase {
    const char *name;
    std::vector<FakeDevice> devices;
    std::optional<Expected> expected;  // nullopt: the query fails
};

const Expected kDefault{"00:03.0", 0xfebc0000, "52:54:00:12:34:56", 1};

const HostCase kHostCases[] = {
    {"e1000 with link up", {{.address = "0000:02:1f.7"}}, Expected{"02:1f.7", 0xfebc0000, "52:54:00:12:34:56", 1}},
    {"carrier 0 is link down", {{.carrier = "0"}}, Expected{"00:03.0", 0xfebc0000, "52:54:00:12:34:56", 0}},
    {"no carrier file is link down",
     {{.carrier = std::nullopt}},
     Expected{"00:03.0", 0xfebc0000, "52:54:00:12:34:56", 0}},
    {"an unbound Intel Ethernet controller with an e1000 ID", {{.device = "0x100f", .driver = ""}}, kDefault},
    {"a device bound to e1000 counts whatever its IDs", {{.vendor = "0x1af4", .device = "0x1041"}}, kDefault},
    {"other drivers, vendors and classes are skipped",
     {{.address = "0000:00:01.0", .vendor = "0x10ec", .device = "0x8139", .driver = "8139too"},
      {.address = "0000:00:02.0", .device = "0x10d3", .driver = "e1000e"},
      {.address = "0000:00:03.0", .pci_class = "0x068000", .driver = ""},
      {.address = "0000:00:04.0", .mac = "00:1b:21:aa:bb:cc"}},
     Expected{"00:04.0", 0xfebc0000, "00:1b:21:aa:bb:cc", 1}},
    {"the lowest PCI address wins",
     {{.address = "0001:00:00.0", .mac = "02:00:00:00:00:01"},
      {.address = "0000:00:09.0", .mac = "02:00:00:00:00:09"},
      {.address = "0000:00:04.0", .mac = "02:00:00:00:00:04"}},
     Expected{"00:04.0", 0xfebc0000, "02:00:00:00:00:04", 1}},
    {"names that are no PCI address are skipped",
     {{.address = "+000:00:00.0"},
      {.address = "0000:00:00.8"},
      {.address = "0000:00:01"},
      {.address = "0000:00:02.0x"},
      {.address = "0000:00:03.0"}},
     kDefault},
    {"BAR0 at the top of 32 bits",
     {{.resource = "0x00000000fffe0000 0x00000000ffffffff 0x40200"}},
     Expected{"00:03.0", 0xfffe0000, "52:54:00:12:34:56", 1}},
    {"BAR0 above 4 GiB fails the query, even with another e1000 behind it",
     {{.resource = "0x0000004000100000 0x000000400017ffff 0x140204"}, {.address = "0000:00:04.0"}},
     std::nullopt},
    {"no network interface fails the query", {{.interface = ""}}, std::nullopt},
    {"an unreadable MAC fails the query", {{.mac = "52:54:00"}}, std::nullopt},
    {"no e1000 at all", {{.device = "0x1041", .driver = "virtio-pci"}}, std::nullopt},
    {"no PCI devices", {}, std::nullopt},
};

TEST(HostNic, FindsTheFirstE1000AndReadsIt) {
    for (const auto &c : kHostCases) {
        SCOPED_TRACE(c.name);
        FakeSysfs sysfs(c.devices);
        std::string problem;
        auto info = query_host_nic(sysfs.root(), problem);
        ASSERT_EQ(info.has_value(), c.expected.has_value());
        EXPECT_EQ(problem.empty(), info.has_value()) << problem;
        if (info) {
            EXPECT_EQ(describe(*info), describe(*c.expected));
        }
    }
}

TEST(HostNic, NoSysfsMeansNoController) {
    TempDir empty;
    std::string problem;
    EXPECT_FALSE(query_host_nic(empty / "missing", problem));
}

}  // namespace
}  // namespace kiv::test
