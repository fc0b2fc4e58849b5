#include "support/elf_identity.h"

#include <bit>
#include <cstring>

namespace kiv {

// Header records are copied straight out of the file.
static_assert(std::endian::native == std::endian::little, "ELF32 headers are read in host byte order");
static_assert(sizeof(Elf32_Ehdr) == 52);

std::optional<std::string> elf32_identity_problem(std::span<const uint8_t> file) {
    if (file.size() < sizeof(Elf32_Ehdr)) return "not an ELF file (too short for an ELF header)";
    if (std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) return "not an ELF file";
    if (file[EI_CLASS] != ELFCLASS32) return "not a 32-bit ELF file";
    if (file[EI_DATA] != ELFDATA2LSB) return "not a little-endian ELF32 file";
    return std::nullopt;
}

std::optional<std::string> i386_machine_problem(const Elf32_Ehdr &header) {
    if (header.e_machine != EM_386) return "not an i386 executable (machine " + std::to_string(header.e_machine) + ")";
    return std::nullopt;
}

}  // namespace kiv
