// Reading a whole regular file into memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/result.h"

namespace kiv {

// Larger files cannot be kivos executables worth loading or reading.
inline constexpr uint64_t kMaxExecutableSize = 256 << 20;

// The bytes of the regular file at `path`, at most `max_size` of them; or
// why not in one line (the host's reason, "not a regular file", "file too
// large", ...).
Result<std::vector<uint8_t>> read_file(const std::string &path, uint64_t max_size);
// The same for a file already open, from its start (the descriptor stays
// open and keeps its offset).
Result<std::vector<uint8_t>> read_file(int fd, uint64_t max_size);

}  // namespace kiv
