// Reading and validating a kivos executable: a static ELF32 i386 EXEC file.
// Parsing is separate from loading so that hostile files can be checked (and
// fuzzed) without a CPU.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "guest_memory.h"

namespace kiv {

inline constexpr uint32_t kStackSize = 8u << 20;
inline constexpr uint32_t kStackTop = kUserEnd;
inline constexpr uint32_t kStackBottom = kStackTop - kStackSize;

struct LoadSegment {
    uint32_t address;      // p_vaddr
    uint32_t memory_size;  // p_memsz
    uint32_t file_offset;  // p_offset
    uint32_t file_size;    // p_filesz
    uint32_t protection;   // kAccess* bits
};

struct ExecutableImage {
    uint32_t entry;
    std::vector<LoadSegment> segments;
};

struct ImageError {
    std::string message;
};

// Parses and checks `file`. On failure `error` names the problem in one line.
std::optional<ExecutableImage> parse_executable(std::span<const uint8_t> file, ImageError &error);

}  // namespace kiv
