// The DWARF reading through libdw on any ELF file a program may be: no
// crash, a refusal in one line, and every row and function naming a file
// the reading kept.
#include <cstdint>
#include <span>
#include <string>

#include "coverage/debug_lines.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using kiv::fuzz::require;
    std::string refusal;
    auto debug = kiv::read_debug_lines(std::span(data, size), refusal);
    if (!refusal.empty()) require(!debug && kiv::fuzz::one_line(refusal));
    if (!debug) return 0;
    for (const kiv::LineStart &line : debug->lines) require(line.file < debug->files.size());
    for (const kiv::FunctionStart &function : debug->functions) require(function.file < debug->files.size());
    return 0;
}
