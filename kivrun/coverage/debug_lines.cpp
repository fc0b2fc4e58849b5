#include "coverage/debug_lines.h"

#include <dwarf.h>
#include <elfutils/libdw.h>
#include <libelf.h>

#include <memory>

namespace kiv {

namespace {

struct ElfCloser {
    void operator()(Elf *elf) const { elf_end(elf); }
};
struct DwarfCloser {
    void operator()(Dwarf *dwarf) const { dwarf_end(dwarf); }
};

void add_lines(Dwarf_Die &unit, DebugLines &found) {
    Dwarf_Lines *lines = nullptr;
    size_t count = 0;
    if (dwarf_getsrclines(&unit, &lines, &count) != 0) return;
    for (size_t i = 0; i < count; i++) {
        Dwarf_Line *line = dwarf_onesrcline(lines, i);
        Dwarf_Addr address = 0;
        int number = 0;
        bool end_of_sequence = false;
        const char *file = dwarf_linesrc(line, nullptr, nullptr);
        // The end of a sequence marks the address after its last byte.
        if (line == nullptr || dwarf_lineendsequence(line, &end_of_sequence) != 0 || end_of_sequence ||
            dwarf_lineaddr(line, &address) != 0 || dwarf_lineno(line, &number) != 0 || number <= 0 ||
            file == nullptr)
            continue;
        found.lines.push_back({file, static_cast<uint32_t>(number), static_cast<uint32_t>(address)});
    }
}

const char *linkage_name(Dwarf_Die *function) {
    Dwarf_Attribute attribute;
    for (unsigned name : {DW_AT_linkage_name, DW_AT_MIPS_linkage_name})
        if (dwarf_attr_integrate(function, name, &attribute) != nullptr) return dwarf_formstring(&attribute);
    return dwarf_diename(function);
}

int add_function(Dwarf_Die *function, void *found_pointer) {
    auto &found = *static_cast<DebugLines *>(found_pointer);
    Dwarf_Addr entry = 0;
    int line = 0;
    const char *name = linkage_name(function);
    const char *file = dwarf_decl_file(function);
    if (dwarf_entrypc(function, &entry) == 0 && name != nullptr && file != nullptr &&
        dwarf_decl_line(function, &line) == 0)
        found.functions.push_back({file, static_cast<uint32_t>(line), name, static_cast<uint32_t>(entry)});
    return DWARF_CB_OK;
}

}  // namespace

std::optional<DebugLines> read_debug_lines(std::span<const uint8_t> file) {
    elf_version(EV_CURRENT);
    // libelf only reads the image, though its interface takes it mutable.
    std::unique_ptr<Elf, ElfCloser> elf(
        elf_memory(const_cast<char *>(reinterpret_cast<const char *>(file.data())), file.size()));
    if (!elf) return std::nullopt;
    std::unique_ptr<Dwarf, DwarfCloser> dwarf(dwarf_begin_elf(elf.get(), DWARF_C_READ, nullptr));
    if (!dwarf) return std::nullopt;
    DebugLines found;
    Dwarf_CU *unit = nullptr;
    Dwarf_Die unit_die;
    while (dwarf_get_units(dwarf.get(), unit, &unit, nullptr, nullptr, &unit_die, nullptr) == 0) {
        add_lines(unit_die, found);
        dwarf_getfuncs(&unit_die, add_function, &found, 0);
    }
    if (found.lines.empty()) return std::nullopt;
    return found;
}

}  // namespace kiv
