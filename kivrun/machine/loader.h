// Loading a kivos executable (a static ELF32 i386 EXEC file) into a guest's
// memory: reading and validating it, mapping its segments and building the
// initial stack. Parsing is separate from loading so that hostile files can
// be checked (and fuzzed) without a CPU.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "machine/guest_memory.h"
#include "machine/symbols.h"
#include "support/result.h"

namespace kiv {

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
    SymbolTable symbols;  // for reports; empty when the file has none
};

// The guest memory a program holds once loaded: its segments' pages and
// its stack.
uint64_t memory_of(const ExecutableImage &image);

// The whole file at `path`, refused in one line when it cannot be read or is
// too large to be an executable.
Result<std::vector<uint8_t>> read_executable(const std::string &path);
// The same for a file already open (the descriptor stays open).
Result<std::vector<uint8_t>> read_executable(int fd);

// Parses and checks `file`; a refusal names the problem in one line.
Result<ExecutableImage> parse_executable(std::span<const uint8_t> file);

// Maps every segment of `image` and fills it from `file`; false when a
// mapping fails.
bool load_segments(GuestMemory &memory, const ExecutableImage &image, std::span<const uint8_t> file);

// Maps the stack and puts the arguments on it: the argument count at the
// stack pointer, the argument pointers after it, a null pointer after them,
// and the texts above. The stack pointer, or nullopt when the arguments do
// not fit.
std::optional<uint32_t> build_stack(GuestMemory &memory, const std::vector<std::string> &argv);

}  // namespace kiv
