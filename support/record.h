// Fixed-layout records copied out of a byte image (a file, a guest block):
// no alignment is assumed, and the caller has checked the range.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

namespace kiv {

template <typename Record> Record record_at(std::span<const uint8_t> bytes, uint64_t offset) {
    static_assert(std::is_trivially_copyable_v<Record>);
    Record record;
    std::memcpy(&record, bytes.data() + offset, sizeof record);
    return record;
}

}  // namespace kiv
