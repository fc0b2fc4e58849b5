// Function names for addresses in a guest program, from its ELF symbol
// table, so that fault reports and backtraces name the code. The table is
// optional and untrusted: a file without one, or with a broken one, simply
// gives no names.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "machine/guest_memory.h"

namespace kiv {

class SymbolTable {
public:
    SymbolTable() = default;
    // The STT_FUNC symbols of `file`'s .symtab; empty when there is none or
    // it does not lie inside the file.
    static SymbolTable from_elf(std::span<const uint8_t> file);

    // "name+0xc" for an address inside a known function, else nullopt.
    std::optional<std::string> describe(uint32_t address) const;
    // " (name+0xc)" or nothing: what follows an address in a report.
    std::string suffix(uint32_t address) const;

    struct Function {
        uint32_t start;
        uint32_t size;  // 0: unknown, the function runs to the next one
        std::string name;
    };
    const std::vector<Function> &functions() const { return functions_; }

private:
    std::vector<Function> functions_;  // sorted by start
};

// The return addresses found by walking the frame-pointer chain from `ebp`:
// each frame holds the caller's EBP and then the return address. Every read
// is checked; the walk stops at an unreadable or non-ascending frame, a null
// return address, or after `max_frames`.
std::vector<uint32_t> frame_chain(const GuestMemory &memory, uint32_t ebp, size_t max_frames);

}  // namespace kiv
