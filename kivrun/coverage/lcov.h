// lcov tracefiles: the record kivrun builds from a run's counts, read back
// and summed with what a file already holds, and written in the form
// genhtml and lcov read (TN, SF, FN, FNDA, FNF, FNH, DA, LF, LH,
// end_of_record).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "coverage/debug_lines.h"
#include "machine/block_counts.h"
#include "machine/symbols.h"

namespace kiv {

struct FunctionCoverage {
    uint32_t line = 0;
    uint64_t count = 0;  // calls: runs of its first instruction
};

struct FileCoverage {
    std::map<std::string, FunctionCoverage> functions;  // by name
    std::map<uint32_t, uint64_t> lines;                 // line -> count
};

struct Tracefile {
    std::map<std::string, FileCoverage> files;  // by source path
};

// The record of one run: every line with code and every function of the
// debug information, with its count.
Tracefile tracefile_from_lines(const DebugLines &debug, const InstructionCounts &counts);
// Function records only, under `program`'s name, for a program without
// line tables.
Tracefile tracefile_from_symbols(const std::string &program, const SymbolTable &symbols,
                                 const InstructionCounts &counts);

// Adds the counts of `other` to `into`.
void merge(Tracefile &into, const Tracefile &other);

// nullopt with `error` naming the first bad line. Lines this record does
// not keep (branch data, a version) are skipped.
std::optional<Tracefile> parse_lcov(std::string_view text, std::string &error);
std::string format_lcov(const Tracefile &tracefile);

}  // namespace kiv
