// What a refused access needs and how its fault is named, for the page
// check (page_check.cpp) and for pinpointing the fault (pinpoint.cpp).
#pragma once

#include <unicorn/unicorn.h>

#include <cstdint>

namespace kiv {

// What each kind of access needs of a page, and how the emulator names its
// refusal for an unmapped page and for a mapped one.
struct AccessKind {
    uc_mem_type type;
    uint32_t needs;
    uc_mem_type unmapped;
    uc_mem_type refused;
};
const AccessKind *access_kind(uc_mem_type type);

// "page fault (write to read-only memory)"
const char *memory_fault_what(uc_mem_type type);

// Physical memory no region ever covers (guest addresses end at 4 GiB):
// a refused page sent here makes the emulator report the exact address.
inline constexpr uint64_t kPinpointPage = uint64_t{1} << 32;

}  // namespace kiv
