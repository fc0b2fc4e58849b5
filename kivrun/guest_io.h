// Helpers shared by the system-call handlers: guest texts and buffers,
// waiting that a stopping run can interrupt.
#pragma once

#include <sys/uio.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "process.h"

namespace kiv {

inline constexpr uint32_t kMaxGuestPath = 4096;

// The guest path at `address`; nullopt with process.error set when it is
// unreadable or too long.
std::optional<std::string> guest_path(Process &process, uint32_t address);

// I/O vectors over a guest buffer; nullopt (EFAULT) when unusable.
std::optional<std::vector<iovec>> guest_buffer(Process &process, uint32_t address, uint32_t length,
                                               uint32_t access);

// Waits until `fd` can be read; false (EINTR) when the run is being stopped.
bool wait_readable(Process &process, int fd);

// Sleeps; returns early when the run is being stopped.
void interruptible_sleep(Process &process, uint64_t microseconds);

}  // namespace kiv
