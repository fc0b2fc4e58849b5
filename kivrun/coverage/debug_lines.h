// Where a program's source lines and functions start, read from its DWARF
// debug information with elfutils' libdw.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kiv {

// A file by its index in DebugLines::files: a line table names one file in
// many rows, and its name may be long.
using FileIndex = uint32_t;

struct LineStart {
    FileIndex file;
    uint32_t line;
    uint32_t address;
};

struct FunctionStart {
    FileIndex file;
    uint32_t line;     // where it is declared
    std::string name;  // the linkage name, as lcov's tools expect it
    uint32_t address;  // its entry
};

struct DebugLines {
    std::vector<std::string> files;  // as the compiler recorded them, with their directory; each once
    std::vector<LineStart> lines;
    std::vector<FunctionStart> functions;
};

// Every row of the line tables of the ELF file `file` and every function
// with code; nullopt when the file has no line tables (or is no ELF file),
// or with `refusal` set to why its debug information is not read.
std::optional<DebugLines> read_debug_lines(std::span<const uint8_t> file, std::string &refusal);

}  // namespace kiv
