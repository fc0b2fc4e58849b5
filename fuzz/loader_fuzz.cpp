// The executable parser on any bytes: it names one problem, or accepts an
// image whose segments lie inside the file and the user address range, as
// loading them relies on.
#include <cstdint>
#include <span>

#include "fuzz_check.h"
#include "machine/loader.h"
#include "machine/memory_map.h"

using kiv::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto image = kiv::parse_executable(std::span(data, size));
    if (!image) {
        require(kiv::fuzz::one_line(image.error()));
        return 0;
    }
    for (const auto &segment : image->segments) {
        require(uint64_t{segment.file_offset} + segment.file_size <= size);
        require(segment.file_size <= segment.memory_size);
        require(segment.address >= kiv::kUserStart);
        require(uint64_t{segment.address} + segment.memory_size <= kiv::kStackBottom);
    }
    return 0;
}
