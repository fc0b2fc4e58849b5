// The NIC query answered from the host's sysfs: which PCI device counts as
// the e1000, what is read from it, when the query fails; and nicsounder's
// report over a fake tree.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "guest_runner.h"
#include "os/nic_host.h"

namespace kiv::test {
namespace {

namespace fs = std::filesystem;

struct FakeDevice {
    std::string address = "0000:00:03.0";
    std::string vendor = "0x8086";
    std::string device = "0x100e";
    std::string pci_class = "0x020000";
    std::string driver = "e1000";  // empty: bound to no driver
    std::string resource = "0x00000000febc0000 0x00000000febdffff 0x0000000000040200";
    std::string interface = "eth0";  // empty: no network interface
    std::string mac = "52:54:00:12:34:56";
    std::optional<std::string> carrier = "1";
};

// PCI devices laid out as Linux does: the device directory under devices/,
// a link to it under bus/pci/devices/, the driver as a link to its
// directory, the network interface under net/.
class FakeSysfs {
public:
    explicit FakeSysfs(const std::vector<FakeDevice> &devices) {
        fs::create_directories(root_.path() / "bus/pci/devices");
        for (const auto &device : devices) add(device);
    }

    std::string root() const { return root_.path().string(); }

private:
    void add(const FakeDevice &device) {
        std::string relative = "devices/pci0000:00/" + device.address;
        fs::path directory = root_.path() / relative;
        fs::create_directories(directory);
        fs::create_directory_symlink("../../../" + relative, root_.path() / "bus/pci/devices" / device.address);
        write(directory / "vendor", device.vendor);
        write(directory / "device", device.device);
        write(directory / "class", device.pci_class);
        write(directory / "resource", device.resource + "\n" + std::string(2, '\n'));
        if (!device.driver.empty())
            fs::create_directory_symlink("../../../bus/pci/drivers/" + device.driver, directory / "driver");
        if (device.interface.empty()) return;
        fs::path interface = directory / "net" / device.interface;
        fs::create_directories(interface);
        write(interface / "address", device.mac);
        if (device.carrier) write(interface / "carrier", *device.carrier);
    }

    static void write(const fs::path &path, const std::string &line) {
        FILE *file = fopen(path.c_str(), "w");
        fprintf(file, "%s\n", line.c_str());
        fclose(file);
    }

    TempDir root_;
};

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
    {"no carrier file is link down", {{.carrier = std::nullopt}},
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
     {{.address = "+000:00:00.0"}, {.address = "0000:00:00.8"}, {.address = "0000:00:01"},
      {.address = "0000:00:02.0x"}, {.address = "0000:00:03.0"}},
     kDefault},
    {"BAR0 at the top of 32 bits", {{.resource = "0x00000000fffe0000 0x00000000ffffffff 0x40200"}},
     Expected{"00:03.0", 0xfffe0000, "52:54:00:12:34:56", 1}},
    {"BAR0 above 4 GiB fails the query, even with another e1000 behind it",
     {{.resource = "0x0000004000100000 0x000000400017ffff 0x140204"}, {.address = "0000:00:04.0"}}, std::nullopt},
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

struct ReportCase {
    const char *name;
    std::vector<FakeDevice> devices;
    int32_t status;
    const char *out;
    bool tells_no_controller;  // kivrun says why the query failed
};

const ReportCase kReportCases[] = {
    {"controller found",
     {{.address = "0000:00:19.0",
       .resource = "0x00000000f7f00000 0x00000000f7f1ffff 0x40200",
       .mac = "00:1b:21:aa:bb:cc",
       .carrier = "0"}},
     0,
     "E1000 Probe Results:\n  PCI: 00:19.0\n  MMIO Base: 0xf7f00000\n  MAC: 00:1b:21:aa:bb:cc\n  Link: DOWN\n",
     false},
    {"no controller", {}, 1, "nicsounder: probe failed\n", true},
};

TEST(HostNic, NicsounderReportsTheHostController) {
    for (const auto &c : kReportCases) {
        SCOPED_TRACE(c.name);
        FakeSysfs sysfs(c.devices);
        TempDir sandbox;
        RunOptions options;
        options.root = sandbox.path().string();
        options.settings.nic.source = NicSource::Host;
        options.settings.nic.sysfs_root = sysfs.root();
        GuestRun run = run_guest(command_program("nicsounder"), {}, options);
        ASSERT_EQ(run.result.outcome, RunResult::Outcome::Exited) << run.result.message;
        EXPECT_EQ(run.result.status, c.status);
        EXPECT_EQ(run.out, c.out);
        std::string told = "kivrun: --nic host: no e1000 controller in " + sysfs.root() + "/bus/pci/devices\n";
        EXPECT_EQ(run.notes, c.tells_no_controller ? told : "");
    }
}

}  // namespace
}  // namespace kiv::test
