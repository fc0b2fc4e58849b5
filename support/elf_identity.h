// The first checks on a file that should be an ELF32 little-endian file:
// its magic, class and byte order, then the machine it is built for.
#pragma once

#include <elf.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "support/record.h"

namespace kiv {

// What rules the file out as an ELF32 little-endian file (too short for the
// header, wrong magic, class or byte order), in one line; nullopt when none.
// Then record_at<Elf32_Ehdr>(file, 0) is the header.
std::optional<std::string> elf32_identity_problem(std::span<const uint8_t> file);

// What rules the header out for an i386 machine; nullopt when nothing.
std::optional<std::string> i386_machine_problem(const Elf32_Ehdr &header);

}  // namespace kiv
