// The spawn record reader on any bytes: it answers one whole, valid record
// or nothing, and a record it answers is written back as the same bytes.
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "run/spawn_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    auto record = kiv::parse_spawn_record(bytes);
    if (record) kiv::fuzz::require(kiv::spawn_record_bytes(*record) == bytes);
    return 0;
}
