// Whole transfers on a host descriptor: a short transfer or an interrupted
// call is carried on from where it stopped.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kiv {

// Writes every byte of `bytes`; false with errno set when the host refuses
// (EIO for a write that moves nothing).
bool write_all(int fd, std::string_view bytes);

// Fills `buffer` from `offset` on (the descriptor's own offset is left
// alone): how many bytes came before the end of the file, or nullopt with
// errno set when the host refuses.
std::optional<size_t> read_all_at(int fd, std::span<uint8_t> buffer, uint64_t offset);

}  // namespace kiv
