// The section header table of an ELF32 file, read by one rule for the
// symbol table of fault reports and for kivmeta's records.
#pragma once

#include <elf.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/result.h"

namespace kiv {

// Far more sections than any executable here has: a hostile count is
// refused before anything is read.
inline constexpr uint32_t kMaxSections = 1u << 12;

// The entries of the table `header` describes, entry i at e_shoff + i *
// e_shentsize. An entry may be larger than an Elf32_Shdr, as the ELF
// standard allows (its extra bytes are not read), never smaller. Refused in
// one line when there is no table, its entries are too small, it runs past
// the end of the file or has more than kMaxSections entries.
Result<std::vector<Elf32_Shdr>> elf32_section_headers(std::span<const uint8_t> file, const Elf32_Ehdr &header);

// The bytes of `section` in the file; nullopt when they do not lie inside
// it. A SHT_NOBITS section's size says nothing about the file: the caller
// tells those apart.
std::optional<std::span<const uint8_t>> section_contents(std::span<const uint8_t> file, const Elf32_Shdr &section);

}  // namespace kiv
