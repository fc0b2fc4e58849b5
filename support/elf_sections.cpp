#include "support/elf_sections.h"

#include "support/record.h"

namespace kiv {

static_assert(sizeof(Elf32_Shdr) == 40);

namespace {

// Whether [offset, offset + size) lies inside the file; 64-bit sums, so no
// 32-bit field can wrap around.
bool within(std::span<const uint8_t> file, uint64_t offset, uint64_t size) { return offset + size <= file.size(); }

}  // namespace

Result<std::vector<Elf32_Shdr>> elf32_section_headers(std::span<const uint8_t> file, const Elf32_Ehdr &header) {
    if (header.e_shoff == 0 || header.e_shnum == 0) return Failure{"no section headers"};
    if (header.e_shentsize < sizeof(Elf32_Shdr))
        return Failure{"section header size " + std::to_string(header.e_shentsize) + " is below " +
                       std::to_string(sizeof(Elf32_Shdr))};
    if (!within(file, header.e_shoff, uint64_t{header.e_shnum} * header.e_shentsize))
        return Failure{"section headers run past the end of the file"};
    if (header.e_shnum > kMaxSections)
        return Failure{std::to_string(header.e_shnum) + " section headers, more than " + std::to_string(kMaxSections)};
    std::vector<Elf32_Shdr> sections;
    sections.reserve(header.e_shnum);
    for (uint32_t i = 0; i < header.e_shnum; i++)
        sections.push_back(record_at<Elf32_Shdr>(file, header.e_shoff + uint64_t{i} * header.e_shentsize));
    return sections;
}

std::optional<std::span<const uint8_t>> section_contents(std::span<const uint8_t> file, const Elf32_Shdr &section) {
    if (!within(file, section.sh_offset, section.sh_size)) return std::nullopt;
    return file.subspan(section.sh_offset, section.sh_size);
}

}  // namespace kiv
