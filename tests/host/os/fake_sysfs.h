// A fake sysfs tree of PCI devices, for the host NIC query and the runs
// that read it.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "test_files.h"

namespace kiv::test {

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
        std::filesystem::create_directories(root_.path() / "bus/pci/devices");
        for (const auto &device : devices) add(device);
    }

    std::string root() const { return root_.path().string(); }

private:
    void add(const FakeDevice &device) {
        std::string relative = "devices/pci0000:00/" + device.address;
        std::filesystem::path directory = root_.path() / relative;
        std::filesystem::create_directories(directory);
        std::filesystem::create_directory_symlink("../../../" + relative,
                                                  root_.path() / "bus/pci/devices" / device.address);
        write(directory / "vendor", device.vendor);
        write(directory / "device", device.device);
        write(directory / "class", device.pci_class);
        write(directory / "resource", device.resource + "\n" + std::string(2, '\n'));
        if (!device.driver.empty())
            std::filesystem::create_directory_symlink("../../../bus/pci/drivers/" + device.driver,
                                                      directory / "driver");
        if (device.interface.empty()) return;
        std::filesystem::path interface = directory / "net" / device.interface;
        std::filesystem::create_directories(interface);
        write(interface / "address", device.mac);
        if (device.carrier) write(interface / "carrier", *device.carrier);
    }

    static void write(const std::filesystem::path &path, const std::string &line) {
        FILE *file = fopen(path.c_str(), "w");
        fprintf(file, "%s\n", line.c_str());
        fclose(file);
    }

    TempDir root_;
};

}  // namespace kiv::test
