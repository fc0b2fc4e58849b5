// Where a program's source lines and functions start, read from its DWARF
// debug information with elfutils' libdw.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kiv {

struct LineStart {
    std::string file;  // as the compiler recorded it, with its directory
    uint32_t line;
    uint32_t address;
};

struct FunctionStart {
    std::string file;
    uint32_t line;     // where it is declared
    std::string name;  // the linkage name, as lcov's tools expect it
    uint32_t address;  // its entry
};

struct DebugLines {
    std::vector<LineStart> lines;
    std::vector<FunctionStart> functions;
};

// Every row of the line tables of the ELF file `file` and every function
// with code; nullopt when the file has no line tables (or is no ELF file).
std::optional<DebugLines> read_debug_lines(std::span<const uint8_t> file);

}  // namespace kiv
