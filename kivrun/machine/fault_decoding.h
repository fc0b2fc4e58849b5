// How a fault is reported: the name and signal of a CPU exception, and the
// instruction that raised it, found in the code when the emulator stops
// elsewhere (after a software interrupt, at the start of a hooked block).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "machine/cpu.h"

namespace kiv {

// The fault of interrupt `vector` raised by the instruction at `instruction`:
// a CPU exception's name and the signal a Linux process gets for it, or
// "interrupt N" with SIGSEGV for any other vector.
Fault interrupt_fault(uint32_t vector, uint32_t instruction);

// Whether the CPU leaves EIP after the instruction raising `vector`, as it
// does for software interrupts only.
bool leaves_eip_after(uint32_t vector);

// The start of the instruction that raised `vector`, given EIP after it and
// the two bytes before EIP; EIP itself when they spell no such instruction.
uint32_t interrupt_instruction_start(uint32_t vector, uint32_t eip, std::array<uint8_t, 2> before);

// The address of the first instruction of a kind (a Capstone id) in `code`,
// which starts at `address`; nullopt when none decodes before the end.
std::optional<uint32_t> find_instruction(std::span<const uint8_t> code, uint32_t address, unsigned instruction);

}  // namespace kiv
