// The symbol table names the code in reports; a damaged one must name
// nothing rather than read outside the file.
#include "machine/symbols.h"

#include <elf.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "support/elf_sections.h"
#include "test_files.h"

namespace kiv::test {
namespace {

using Bytes = std::vector<uint8_t>;

Elf32_Shdr *symbol_section(Bytes &file) {
    auto *sections = reinterpret_cast<Elf32_Shdr *>(file.data() + elf_header(file).e_shoff);
    for (size_t i = 0; i < elf_header(file).e_shnum; i++)
        if (sections[i].sh_type == SHT_SYMTAB) return &sections[i];
    return nullptr;
}

struct SymbolDamage {
    const char *name;
    std::function<void(Bytes &)> damage;
};

const SymbolDamage kSymbolDamages[] = {
    {"table_past_end", [](Bytes &f) { symbol_section(f)->sh_offset = static_cast<uint32_t>(f.size()) - 8; }},
    {"table_offset_wraps", [](Bytes &f) { symbol_section(f)->sh_offset = 0xfffffff0u; }},
    {"huge_table", [](Bytes &f) { symbol_section(f)->sh_size = 0xfffffff0u; }},
    {"names_nowhere", [](Bytes &f) { symbol_section(f)->sh_link = 0xffff; }},
    {"section_headers_past_end", [](Bytes &f) { elf_header(f).e_shoff = static_cast<uint32_t>(f.size()); }},
    {"countless_sections", [](Bytes &f) { elf_header(f).e_shnum = 0xffff; }},
    {"more_sections_than_allowed",
     [](Bytes &f) {
         elf_header(f).e_shnum = kMaxSections + 1;
         f.resize(elf_header(f).e_shoff + (kMaxSections + 1) * sizeof(Elf32_Shdr));
     }},
    {"file_cut_after_headers", [](Bytes &f) { f.resize(sizeof(Elf32_Ehdr)); }},
};

TEST(Symbols, DamagedTablesNameNothing) {
    uint32_t entry = reinterpret_cast<const Elf32_Ehdr *>(valid_executable().data())->e_entry;
    ASSERT_EQ(SymbolTable::from_elf(valid_executable()).describe(entry), "_start");
    for (const auto &damage : kSymbolDamages) {
        SCOPED_TRACE(damage.name);
        Bytes file = valid_executable();
        ASSERT_NE(symbol_section(file), nullptr);
        damage.damage(file);
        EXPECT_EQ(SymbolTable::from_elf(file).describe(entry), std::nullopt);
    }
}

TEST(Symbols, WiderSectionHeaderEntriesStillNameTheCode) {
    Bytes file = valid_executable();
    uint32_t entry = elf_header(file).e_entry;
    widen_section_headers(file, sizeof(Elf32_Shdr) + 8);
    EXPECT_EQ(SymbolTable::from_elf(file).describe(entry), "_start");
}

}  // namespace
}  // namespace kiv::test
