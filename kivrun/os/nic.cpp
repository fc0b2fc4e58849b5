#include "os/nic.h"

#include "os/nic_host.h"

namespace kiv {

std::optional<NicInfo> query_nic(const NicConfig &config, std::string &problem) {
    switch (config.source) {
    case NicSource::Simulated: return config.simulated;
    case NicSource::Host: return query_host_nic(config.sysfs_root, problem);
    case NicSource::Absent: return std::nullopt;
    }
    return std::nullopt;
}

bool parse_nic_source(const std::string &text, NicSource &source) {
    if (text == "sim") source = NicSource::Simulated;
    else if (text == "host") source = NicSource::Host;
    else if (text == "absent") source = NicSource::Absent;
    else return false;
    return true;
}

}  // namespace kiv
