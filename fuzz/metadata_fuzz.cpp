// kivmeta's reader on any bytes: it names one problem, or returns both
// records as views into the file with printable strings.
#include <algorithm>
#include <cstdint>
#include <span>

#include "fuzz_check.h"
#include "kivmeta/metadata.h"

using kiv::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto metadata = kiv::meta::read_metadata(std::span(data, size));
    if (!metadata) {
        require(kiv::fuzz::one_line(metadata.error().message));
        return 0;
    }
    require(metadata->size() == 2);
    for (const auto &record : *metadata) {
        require(record.bytes.data() >= data && record.bytes.data() + record.bytes.size() <= data + size);
        for (const auto &text : record.strings)
            require(!text.empty() &&
                    std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; }));
    }
    return 0;
}
