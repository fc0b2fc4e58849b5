#include "os/nic_host.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "os/nic_address.h"
#include "support/hex.h"

namespace kiv {

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kIntelVendor = 0x8086;
constexpr uint32_t kEthernetClass = 0x0200;  // class code without the programming interface byte
constexpr const char *kE1000Driver = "e1000";

// The device IDs Linux's e1000 driver claims (8254x controllers and the
// CE4100's). The PCIe successors belong to e1000e and igb, not to it.
constexpr uint32_t kE1000DeviceIds[] = {
    0x1000, 0x1001, 0x1004, 0x1008, 0x1009, 0x100c, 0x100d, 0x100e, 0x100f, 0x1010, 0x1011, 0x1012, 0x1013,
    0x1014, 0x1015, 0x1016, 0x1017, 0x1018, 0x1019, 0x101a, 0x101d, 0x101e, 0x1026, 0x1027, 0x1028, 0x1075,
    0x1076, 0x1077, 0x1078, 0x1079, 0x107a, 0x107b, 0x107c, 0x108a, 0x1099, 0x10b5, 0x2e6e,
};

// sysfs attributes are one short line; nothing longer is worth reading.
constexpr size_t kMaxAttributeBytes = 4096;

// The first line without its newline; nullopt for a file that cannot be
// opened or read (a down interface's carrier cannot) or is empty.
std::optional<std::string> read_first_line(const fs::path &path) {
    std::ifstream in(path);
    char line[kMaxAttributeBytes];
    if (!in.getline(line, sizeof line) && in.gcount() == 0) return std::nullopt;
    return std::string(line);
}

std::optional<uint64_t> read_hex(const fs::path &path) {
    auto line = read_first_line(path);
    return line ? parse_hex_optional_prefix(*line) : std::nullopt;
}

// "DDDD:BB:DD.F": domain, bus, device and function in hex. The domain has
// no place in the record and is only checked.
bool parse_device_address(const std::string &name, NicInfo &info) {
    size_t colon = name.find(':');
    if (colon == std::string::npos || !parse_hex_optional_prefix(std::string_view(name).substr(0, colon))) return false;
    Result<PciAddress> address = parse_pci_address(std::string_view(name).substr(colon + 1));
    if (address) set_pci_address(info, *address);
    return address.has_value();
}

bool is_e1000(const fs::path &device) {
    std::error_code error;
    fs::path driver = fs::read_symlink(device / "driver", error);
    if (!error && driver.filename() == kE1000Driver) return true;
    auto vendor = read_hex(device / "vendor");
    auto id = read_hex(device / "device");
    auto pci_class = read_hex(device / "class");
    return vendor == kIntelVendor && pci_class && (*pci_class >> 8) == kEthernetClass && id &&
           std::find(std::begin(kE1000DeviceIds), std::end(kE1000DeviceIds), *id) != std::end(kE1000DeviceIds);
}

// Entries of `directory` in name order; empty when it cannot be read.
std::vector<std::string> sorted_entries(const fs::path &directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// BAR0's start: the first field of the first line of `resource`.
std::optional<uint32_t> read_bar0(const fs::path &device) {
    auto line = read_first_line(device / "resource");
    if (!line) return std::nullopt;
    auto start = parse_hex_optional_prefix(line->substr(0, line->find(' ')));
    if (!start || *start > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(*start);
}

// MAC and link from the device's (first) network interface.
bool read_interface(const fs::path &device, NicInfo &info) {
    auto interfaces = sorted_entries(device / "net");
    if (interfaces.empty()) return false;
    fs::path interface = device / "net" / interfaces.front();
    auto mac = read_first_line(interface / "address");
    Result<MacAddress> address = mac ? parse_mac_address(*mac) : Failure{"no address"};
    if (!address) return false;
    set_mac_address(info, *address);
    info.link = read_first_line(interface / "carrier") == "1" ? 1 : 0;
    return true;
}

constexpr const char *kProblemPrefix = "--nic host: ";

std::optional<NicInfo> read_controller(const fs::path &device, const NicInfo &located, std::string &problem) {
    NicInfo info = located;
    auto bar0 = read_bar0(device);
    if (!bar0) {
        problem = kProblemPrefix + ("the e1000 at " + device.string()) + " has no BAR0 below 4 GiB";
        return std::nullopt;
    }
    if (!read_interface(device, info)) {
        problem = kProblemPrefix + ("the e1000 at " + device.string()) + " has no network interface with a MAC";
        return std::nullopt;
    }
    info.mmio_base = *bar0;
    return info;
}

}  // namespace

std::optional<NicInfo> query_host_nic(const std::string &sysfs_root, std::string &problem) {
    fs::path devices = fs::path(sysfs_root) / "bus" / "pci" / "devices";
    for (const auto &name : sorted_entries(devices)) {
        NicInfo info{};
        if (parse_device_address(name, info) && is_e1000(devices / name))
            return read_controller(devices / name, info, problem);
    }
    problem = kProblemPrefix + ("no e1000 controller in " + devices.string());
    return std::nullopt;
}

}  // namespace kiv
