// The drcov reader on any file found where a log should be: a refusal is
// one line; what it reads is written in a form it reads back the same, and
// a run's own module and blocks added to it still read back.
#include <cstdint>
#include <string>
#include <string_view>

#include "coverage/drcov.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using kiv::fuzz::require;
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    std::string error;
    auto log = kiv::parse_drcov(bytes, error);
    if (!log) {
        require(kiv::fuzz::one_line(error));
        return 0;
    }
    std::string written = kiv::format_drcov(*log);
    auto again = kiv::parse_drcov(written, error);
    require(again.has_value() && again->blocks == log->blocks && again->modules.size() == log->modules.size());
    for (size_t id = 0; id < log->modules.size(); id++) require(again->modules[id].path == log->modules[id].path);
    kiv::DrcovLog run{{{"/fuzz/program", 0x400000, 0x401000, 0x400000}}, {{0, 4, 0}, {8, 2, 0}}};
    kiv::merge(*again, run);
    require(kiv::parse_drcov(kiv::format_drcov(*again), error).has_value());
    return 0;
}
